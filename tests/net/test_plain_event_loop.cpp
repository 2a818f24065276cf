// The event loop without Qt on its own: what a turn handles and in which order, things destroyed
// before their turn, timers that fall behind, and running until told to quit.

#include "net/plain_event_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <poll.h>
#include <unistd.h>

using namespace dazoroz::net;
using namespace std::chrono_literals;

namespace {

// Each handler logs its name and then does its part, if it has one.
struct Logged final : ReadinessHandler, TimerHandler, MessageHandler {
    Logged(std::string& log, std::string name) : log_(log), name_(std::move(name)) {}
    std::function<void()> then;

    void descriptorReady(Readiness which) noexcept override {
        step(which == Readiness::Read ? "read" : "write");
    }
    void timerFired() noexcept override { step("tick"); }
    void handleMessage(const LoopMessage& m) noexcept override { step(std::to_string(m.number)); }

private:
    void step(const std::string& what) {
        log_ += name_ + what + " ";
        if (then) {
            then();
        }
    }
    std::string& log_;
    std::string name_;
};

struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~Pipe() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void fill() const { EXPECT_EQ(::write(ends[1], "x", 1), 1); }
    void drain() const {
        char byte = 0;
        EXPECT_EQ(::read(ends[0], &byte, 1), 1);
    }
};

TEST(PlainEventLoop, TurnHandlesWaitingMessagesThenReadinessThenTimers) {
    PlainEventLoop loop;
    std::string log;
    Logged a(log, "a:"), b(log, "b:"), reader(log, "r:"), clock(log, "t:");
    const auto boxA = loop.createMailbox(a);
    const auto boxB = loop.createMailbox(b);
    Pipe pipe;
    const auto watch = loop.watchDescriptor(pipe.ends[0], reader);
    watch->setEnabled(Readiness::Read, true);
    const auto timer = loop.createTimer(clock);
    timer->start(0ms);
    clock.then = [&] {
        timer->stop();
    };
    reader.then = [&] {
        pipe.drain();
    };
    a.then = [&] {
        boxA->post({9, 0, 0});
    }; // waits for the next turn
    pipe.fill();
    ASSERT_TRUE(boxA->post({1, 0, 0}) && boxB->post({2, 0, 0}));
    loop.turn(false);
    EXPECT_EQ(log, "a:1 b:2 r:read t:tick ");
    log.clear();
    a.then = nullptr;
    loop.turn(false);
    EXPECT_EQ(log, "a:9 ");
    log.clear();
    loop.turn(false);
    EXPECT_EQ(log, "");
}

// A handler destroys what was due after it in the same turn: it is not called.
TEST(PlainEventLoop, ThingsDestroyedBeforeTheirTurnAreSkipped) {
    PlainEventLoop loop;
    std::string log;
    Logged first(log, "1:"), second(log, "2:");
    const auto firstBox = loop.createMailbox(first);
    auto box = loop.createMailbox(second);
    Pipe pipe;
    auto watch = loop.watchDescriptor(pipe.ends[0], second);
    auto timer = loop.createTimer(second);
    watch->setEnabled(Readiness::Read, true);
    timer->start(0ms);
    pipe.fill();
    ASSERT_TRUE(firstBox->post({1, 0, 0}) && box->post({2, 0, 0}));
    first.then = [&] {
        box.reset();
        watch.reset();
        timer.reset();
    };
    loop.turn(false);
    EXPECT_EQ(log, "1:1 ");
}

// A timer that has fallen behind ticks once, and next a whole interval later.
TEST(PlainEventLoop, MissedTicksAreNotMadeUpFor) {
    PlainEventLoop loop;
    std::string log;
    Logged clock(log, "");
    const auto timer = loop.createTimer(clock);
    timer->start(100ms);
    std::this_thread::sleep_for(350ms); // the program busy elsewhere for three intervals
    loop.turn(false);
    loop.turn(false);
    EXPECT_EQ(log, "tick ");
}

TEST(PlainEventLoop, RunsUntilQuitAndShowsWorkOnItsDescriptor) {
    PlainEventLoop loop;
    std::string log;
    Logged handler(log, "");
    const auto box = loop.createMailbox(handler);
    // Posted from outside a turn: the descriptor tells a loop outside that there is work.
    ASSERT_TRUE(box->post({1, 0, 0}));
    pollfd ready{loop.descriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 0), 1);
    const auto timer = loop.createTimer(handler);
    timer->start(5ms);
    handler.then = [&] {
        if (log == "1 tick ") {
            loop.quit(3);
        }
    };
    EXPECT_EQ(loop.run(), 3); // waits for the tick, without spinning on the drained descriptor
    EXPECT_EQ(log, "1 tick ");
}

} // namespace
