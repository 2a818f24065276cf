#pragma once

// Our stand-in for the hidden notification window: an object per engine that receives numbered
// messages through an event loop (event_loop.h). Socket readiness reaches the engine as the
// socket notification message (the socket in the first parameter, the event in the low 16 bits
// of the second and its error code in the high 16 bits), posted by the socket layer.

#include "net/event_loop.h"
#include "net/socket_api.h"

#include <cstdint>
#include <exception>
#include <memory>

namespace dazoroz::net {

inline constexpr unsigned kWmUser = 1024;
inline constexpr unsigned kSocketMessage = kWmUser + 101; // 1125

inline constexpr std::intptr_t makeSelectReply(long event, int error) noexcept {
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                      static_cast<std::uint32_t>(event & 0xFFFF));
}
inline constexpr int selectEvent(std::intptr_t lParam) noexcept {
    return static_cast<int>(static_cast<std::uint32_t>(lParam) & 0xFFFFu);
}
inline constexpr int selectError(std::intptr_t lParam) noexcept {
    return static_cast<int>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFFu);
}

// What a window hands its messages to (the engine stored in the window's first extra slot).
class WindowMessageTarget {
public:
    virtual long windowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // An exception left the message handling; the window never lets it into the event loop.
    virtual void messageFailed(std::exception_ptr error) noexcept = 0;

protected:
    ~WindowMessageTarget() = default;
};

// Held by its engine through a shared pointer; the socket layer keeps weak ones, so that a
// window destroyed first is no longer notified.
class NotificationWindow final : public std::enable_shared_from_this<NotificationWindow>,
                                 private MessageHandler {
public:
    // A new window on the loop, or nullptr when none can be made (no loop, or the loop cannot
    // take messages: the Qt loop without a Qt application object).
    static std::shared_ptr<NotificationWindow> create(EventLoop* loop) noexcept;
    ~NotificationWindow();
    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    void setTarget(WindowMessageTarget* target) noexcept { target_ = target; }
    WindowMessageTarget* target() const noexcept { return target_; }
    EventLoop& loop() const noexcept { return loop_; }
    // Messages posted to this window and not yet handled.
    int queuedMessages() const noexcept { return queued_; }

private:
    explicit NotificationWindow(EventLoop& loop) : loop_(loop) {}
    void handleMessage(const LoopMessage& message) noexcept override;
    void deliver(const LoopMessage& message) noexcept;
    friend bool postMessage(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
    friend bool dispatchMessage(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);

    EventLoop& loop_;
    std::unique_ptr<Mailbox> mailbox_;
    WindowMessageTarget* target_ = nullptr;
    int queued_ = 0;
};

// Queues a message for the window; it is handled by the window's event loop (on the loop's
// thread, the only one that may call this). Messages still queued when the window is destroyed
// are dropped.
bool postMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                 std::intptr_t lParam);
// Handles a message through the window at once, as a posted one would be handled when its turn
// comes (exceptions of the engine included), unless messages posted earlier are still waiting:
// then it is posted behind them, so that the engine sees them in order. For the socket layer,
// which reports readiness from the event loop itself and need not wait a turn of the loop.
bool dispatchMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam);
// Hands a message to the window's engine at once and returns its result; unlike a posted
// message, an exception of an event handler reaches the caller.
long sendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                 std::intptr_t lParam);

} // namespace dazoroz::net
