#pragma once

// An event loop that hands everything on to another and tells the test what it hands on: each
// message delivered to a mailbox and each read readiness of a descriptor is framed by the calls
// `handling` and `handled`; `mostWaiting` is the most messages that were waiting at one time.
// A port made on it is observed without a hook of its own.

#include "net/event_loop.h"

#include <algorithm>
#include <functional>

namespace dazoroz::net::testing {

class ObservedLoop final : public EventLoop {
public:
    explicit ObservedLoop(EventLoop& inner) : inner_(inner) {}

    std::function<void()> handling;
    std::function<void()> handled;
    int waiting = 0;
    int mostWaiting = 0;

    std::unique_ptr<DescriptorWatch> watchDescriptor(int fd,
                                                     ReadinessHandler& handler) noexcept override {
        auto watch = std::make_unique<Watch>(*this, handler);
        watch->inner = inner_.watchDescriptor(fd, *watch);
        return watch->inner ? std::move(watch) : nullptr;
    }
    std::unique_ptr<LoopTimer> createTimer(TimerHandler& handler) noexcept override {
        return inner_.createTimer(handler);
    }
    std::unique_ptr<Mailbox> createMailbox(MessageHandler& handler) noexcept override {
        auto box = std::make_unique<Box>(*this, handler);
        box->inner = inner_.createMailbox(*box);
        return box->inner ? std::move(box) : nullptr;
    }

private:
    template <typename Step> void around(const Step& step) {
        if (handling) {
            handling();
        }
        step();
        if (handled) {
            handled();
        }
    }

    struct Watch final : DescriptorWatch, ReadinessHandler {
        Watch(ObservedLoop& to, ReadinessHandler& target) : loop(to), handler(target) {}
        void setEnabled(Readiness which, bool on) noexcept override {
            inner->setEnabled(which, on);
        }
        void descriptorReady(Readiness which) noexcept override {
            if (which == Readiness::Read) {
                loop.around([&] { handler.descriptorReady(which); });
            } else {
                handler.descriptorReady(which);
            }
        }
        ObservedLoop& loop;
        ReadinessHandler& handler;
        std::unique_ptr<DescriptorWatch> inner;
    };

    struct Box final : Mailbox, MessageHandler {
        Box(ObservedLoop& to, MessageHandler& target) : loop(to), handler(target) {}
        bool post(const LoopMessage& message) noexcept override {
            if (!inner->post(message)) {
                return false;
            }
            loop.mostWaiting = std::max(loop.mostWaiting, ++loop.waiting);
            return true;
        }
        void handleMessage(const LoopMessage& message) noexcept override {
            --loop.waiting;
            loop.around([&] { handler.handleMessage(message); });
        }
        ObservedLoop& loop;
        MessageHandler& handler;
        std::unique_ptr<Mailbox> inner;
    };

    EventLoop& inner_;
};

} // namespace dazoroz::net::testing
