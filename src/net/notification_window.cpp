#include "net/notification_window.h"

#include "net/socket_library.h"

#include <QCoreApplication>
#include <QEvent>

#include <new>

namespace dazoroz::net {

namespace {

QEvent::Type g_messageType = QEvent::None;

class WindowMessageEvent final : public QEvent {
public:
    WindowMessageEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, bool posted)
        : QEvent(g_messageType), message_(message), wParam_(wParam), lParam_(lParam),
          posted_(posted) {}
    unsigned message_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
    bool posted_;
};

// The first window of the process registers the message type ("the window class").
bool registerWindowClass() noexcept {
    SocketLibrary& lib = socketLibrary();
    if (!lib.classRegistered) {
        const int type = QEvent::registerEventType();
        if (type < 0) {
            return false;
        }
        g_messageType = static_cast<QEvent::Type>(type);
        lib.classRegistered = true;
    }
    return true;
}

} // namespace

NotificationWindow::NotificationWindow() {
    setObjectName(QLatin1String(kClassName));
}

NotificationWindow::~NotificationWindow() = default;

NotificationWindow* NotificationWindow::create() noexcept {
    if (QCoreApplication::instance() == nullptr || !registerWindowClass()) {
        return nullptr;
    }
    return new (std::nothrow) NotificationWindow();
}

bool NotificationWindow::event(QEvent* event) {
    if (event->type() != g_messageType || g_messageType == QEvent::None) {
        return QObject::event(event);
    }
    const auto* message = static_cast<const WindowMessageEvent*>(event);
    if (message->posted_) {
        --queued_;
    }
    if (target_ != nullptr) {
        try {
            target_->windowMessage(message->message_, message->wParam_, message->lParam_);
        } catch (...) {
            target_->messageFailed(std::current_exception());
        }
    }
    return true;
}

bool postMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    if (window == nullptr || g_messageType == QEvent::None) {
        return false;
    }
    QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam, true));
    ++window->queued_;
    return true;
}

bool dispatchMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                     std::intptr_t lParam) {
    if (window == nullptr || g_messageType == QEvent::None) {
        return false;
    }
    if (window->queuedMessages() > 0) {
        return postMessage(window, message, wParam, lParam);
    }
    WindowMessageEvent event(message, wParam, lParam, false);
    QCoreApplication::sendEvent(window, &event);
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
