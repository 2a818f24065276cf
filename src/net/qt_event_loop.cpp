#include "net/qt_event_loop.h"

#include "net/warnings.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <new>

namespace dazoroz::net {

namespace {

bool haveApplication() noexcept {
    return QCoreApplication::instance() != nullptr;
}

class Watch final : public DescriptorWatch {
public:
    Watch(int fd, ReadinessHandler& handler)
        : reader_(fd, QSocketNotifier::Read), writer_(fd, QSocketNotifier::Write) {
        reader_.setEnabled(false);
        writer_.setEnabled(false);
        QObject::connect(&reader_, &QSocketNotifier::activated, &reader_,
                         [&handler] { handler.descriptorReady(Readiness::Read); });
        QObject::connect(&writer_, &QSocketNotifier::activated, &writer_,
                         [&handler] { handler.descriptorReady(Readiness::Write); });
    }

    void setEnabled(Readiness which, bool on) noexcept override {
        (which == Readiness::Read ? reader_ : writer_).setEnabled(on);
    }

private:
    QSocketNotifier reader_;
    QSocketNotifier writer_;
};

class Timer final : public LoopTimer {
public:
    explicit Timer(TimerHandler& handler) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [&handler] { handler.timerFired(); });
    }

    void start(std::chrono::milliseconds interval) noexcept override { timer_.start(interval); }
    void stop() noexcept override { timer_.stop(); }

private:
    QTimer timer_;
};

QEvent::Type messageType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class MessageEvent final : public QEvent {
public:
    explicit MessageEvent(const LoopMessage& message) : QEvent(messageType()), message_(message) {}
    LoopMessage message_;
};

// Qt drops the events still posted to an object when it is destroyed.
class Box final : public QObject, public Mailbox {
public:
    explicit Box(MessageHandler& handler) : handler_(handler) {}

    bool post(const LoopMessage& message) noexcept override {
        auto* event = new (std::nothrow) MessageEvent(message);
        if (event == nullptr) {
            return false;
        }
        QCoreApplication::postEvent(this, event);
        return true;
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != messageType()) {
            return QObject::event(event);
        }
        handler_.handleMessage(static_cast<const MessageEvent*>(event)->message_);
        return true;
    }

private:
    MessageHandler& handler_;
};

void qtWarning(const char* text) noexcept {
    qWarning("%s", text);
}

} // namespace

QtEventLoop& QtEventLoop::instance() noexcept {
    static QtEventLoop loop;
    return loop;
}

std::unique_ptr<DescriptorWatch> QtEventLoop::watchDescriptor(int fd,
                                                              ReadinessHandler& handler) noexcept {
    if (!haveApplication()) {
        return nullptr;
    }
    return std::unique_ptr<DescriptorWatch>(new (std::nothrow) Watch(fd, handler));
}

std::unique_ptr<LoopTimer> QtEventLoop::createTimer(TimerHandler& handler) noexcept {
    if (!haveApplication()) {
        return nullptr;
    }
    return std::unique_ptr<LoopTimer>(new (std::nothrow) Timer(handler));
}

std::unique_ptr<Mailbox> QtEventLoop::createMailbox(MessageHandler& handler) noexcept {
    if (!haveApplication() || messageType() == QEvent::None) {
        return nullptr;
    }
    return std::unique_ptr<Mailbox>(new (std::nothrow) Box(handler));
}

void useQtEventLoop() noexcept {
    EventLoop::setCurrent(&QtEventLoop::instance());
    setWarningWriter(&qtWarning);
}

} // namespace dazoroz::net
