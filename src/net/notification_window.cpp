#include "net/notification_window.h"

#include <new>

namespace dazoroz::net {

std::shared_ptr<NotificationWindow> NotificationWindow::create(EventLoop* loop) noexcept {
    if (loop == nullptr) {
        return nullptr;
    }
    std::shared_ptr<NotificationWindow> window;
    try {
        window.reset(new NotificationWindow(*loop));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    window->mailbox_ = loop->createMailbox(*window);
    return window->mailbox_ ? window : nullptr;
}

NotificationWindow::~NotificationWindow() = default;

void NotificationWindow::handleMessage(const LoopMessage& message) noexcept {
    --queued_;
    deliver(message);
}

void NotificationWindow::deliver(const LoopMessage& message) noexcept {
    if (target_ == nullptr) {
        return;
    }
    try {
        target_->windowMessage(message.number, message.first, message.second);
    } catch (...) {
        target_->messageFailed(std::current_exception());
    }
}

bool postMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    if (window == nullptr || !window->mailbox_->post({message, wParam, lParam})) {
        return false;
    }
    ++window->queued_;
    return true;
}

bool dispatchMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam) {
    if (window == nullptr) {
        return false;
    }
    if (window->queuedMessages() > 0) {
        return postMessage(window, message, wParam, lParam);
    }
    window->deliver({message, wParam, lParam});
    return true;
}

long sendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    if (window == nullptr || window->target() == nullptr) {
        return 0;
    }
    return window->target()->windowMessage(message, wParam, lParam);
}

} // namespace dazoroz::net
