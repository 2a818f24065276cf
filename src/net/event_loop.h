#pragma once

// The event loop as the TCP port uses it: readiness of descriptors, timers, and messages posted
// to be handled on a later turn, in the order they were posted. Two loops implement it:
// QtEventLoop (qt_event_loop.h, in a target of its own) for the window, and PlainEventLoop
// (plain_event_loop.h) for dazoroz-send, which links no Qt.
//
// Everything is created, used and destroyed on the loop's thread, and every handler runs from
// the loop. Handlers must not throw: exceptions never cross an event loop.

#include <chrono>
#include <cstdint>
#include <memory>

namespace dazoroz::net {

enum class Readiness { Read, Write };

class ReadinessHandler {
public:
    // The descriptor is ready to read (data, its end, or an error) or to write (room, or an
    // error). Called again on every turn of the loop while the readiness lasts.
    virtual void descriptorReady(Readiness which) noexcept = 0;

protected:
    ~ReadinessHandler() = default;
};

// Readiness of one descriptor; both kinds start switched off. Destroy it before closing the
// descriptor.
class DescriptorWatch {
public:
    virtual ~DescriptorWatch() = default;
    virtual void setEnabled(Readiness which, bool on) noexcept = 0;
};

class TimerHandler {
public:
    virtual void timerFired() noexcept = 0;

protected:
    ~TimerHandler() = default;
};

// A repeating timer, stopped until started. A tick that falls due while another handler runs
// comes as soon as the loop is back; ticks missed meanwhile are not made up for.
class LoopTimer {
public:
    virtual ~LoopTimer() = default;
    virtual void start(std::chrono::milliseconds interval) noexcept = 0;
    virtual void stop() noexcept = 0;
};

// A message: a number and two parameters.
struct LoopMessage {
    unsigned number;
    std::uintptr_t first;
    std::intptr_t second;
};

class MessageHandler {
public:
    virtual void handleMessage(const LoopMessage& message) noexcept = 0;

protected:
    ~MessageHandler() = default;
};

// Where messages for one handler are posted. Messages of all mailboxes of a loop are handled in
// the order they were posted, each on a later turn of the loop than the one that posted it;
// those still queued when the mailbox is destroyed are dropped.
class Mailbox {
public:
    virtual ~Mailbox() = default;
    // False when the message cannot be queued (out of memory).
    virtual bool post(const LoopMessage& message) noexcept = 0;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Each answers nullptr when it cannot be made (out of memory, or no Qt application object
    // for the Qt loop). The handler must outlive what is made for it.
    virtual std::unique_ptr<DescriptorWatch>
    watchDescriptor(int fd, ReadinessHandler& handler) noexcept = 0;
    virtual std::unique_ptr<LoopTimer> createTimer(TimerHandler& handler) noexcept = 0;
    virtual std::unique_ptr<Mailbox> createMailbox(MessageHandler& handler) noexcept = 0;

    // The loop that components made on this thread use unless told otherwise (the TCP port);
    // nullptr until one is set.
    static EventLoop* current() noexcept;
    static void setCurrent(EventLoop* loop) noexcept;
};

} // namespace dazoroz::net
