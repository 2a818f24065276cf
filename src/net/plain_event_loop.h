#pragma once

// The event loop without Qt, for dazoroz-send: one epoll instance watches the descriptors, a
// timerfd in it the nearest timer, and an eventfd in it the messages posted from outside a
// turn. A turn of the loop, like a turn of Qt's: the messages that were waiting when it began,
// in order; then the readiness of descriptors (waiting for it when nothing else is due), each
// ready descriptor's handler once; then the timers that have fallen due.
//
// epoll rather than poll: the set of descriptors is kept by the kernel, so a turn costs one
// system call whatever changed, and the loop as a whole is one descriptor, which another loop
// can watch (the tests run the TCP port on this loop inside Qt's that way).

#include "net/event_loop.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace dazoroz::net {

class PlainEventLoop final : public EventLoop {
public:
    // Throws std::system_error when the system gives no epoll, timerfd or eventfd.
    PlainEventLoop();
    ~PlainEventLoop() override;
    PlainEventLoop(const PlainEventLoop&) = delete;
    PlainEventLoop& operator=(const PlainEventLoop&) = delete;

    std::unique_ptr<DescriptorWatch> watchDescriptor(int fd,
                                                     ReadinessHandler& handler) noexcept override;
    std::unique_ptr<LoopTimer> createTimer(TimerHandler& handler) noexcept override;
    std::unique_ptr<Mailbox> createMailbox(MessageHandler& handler) noexcept override;

    // Turns the loop until a handler calls quit(); returns quit's code.
    int run();
    void quit(int code) noexcept;
    // One turn; with wait, it waits for readiness or a timer unless a message is waiting.
    void turn(bool wait);
    // Readable while the loop has something to do, when it is turned from inside another loop.
    int descriptor() const noexcept { return epoll_; }

private:
    class Watch;
    class Timer;
    class Box;
    using Clock = std::chrono::steady_clock;
    struct Queued {
        Box* box; // nullptr once the mailbox is gone
        LoopMessage message;
    };

    void deliverMessages();
    Watch* findWatch(std::uint64_t id) const noexcept;
    void dispatch(std::uint64_t id, std::uint32_t events);
    void fireTimers();
    void armTimer() noexcept;
    void wake() noexcept;
    bool post(Box& box, const LoopMessage& message) noexcept;
    void forget(Box& box) noexcept;

    int epoll_ = -1;
    int timerFd_ = -1; // fires at the nearest timer's deadline
    int wakeFd_ = -1;  // set when a message is posted while no turn will look for it
    std::vector<std::pair<std::uint64_t, Watch*>> watches_; // a few: searched in order
    std::uint64_t nextWatchId_ = 2;                         // 0 and 1: the timerfd and the eventfd
    std::vector<Timer*> timers_;                            // the running ones
    Clock::time_point armedFor_ = Clock::time_point::max();
    std::vector<Queued> queue_;
    std::size_t head_ = 0; // the first message not yet handled
    bool running_ = false; // inside run(), which looks for messages before it waits
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace dazoroz::net
