#pragma once

// The event loop over Qt's, for the window (and the Qt-based tests): descriptors watched by
// QSocketNotifiers, timers as precise QTimers, messages posted as events to a QObject per
// mailbox. It needs a QCoreApplication (or QApplication); without one it makes nothing. Its own
// target (dazoroz_net_qt), since dazoroz_net links no Qt.

#include "net/event_loop.h"

namespace dazoroz::net {

class QtEventLoop final : public EventLoop {
public:
    // The one Qt loop; it keeps no state of its own, so it serves every thread's Qt event loop.
    static QtEventLoop& instance() noexcept;

    std::unique_ptr<DescriptorWatch> watchDescriptor(int fd,
                                                     ReadinessHandler& handler) noexcept override;
    std::unique_ptr<LoopTimer> createTimer(TimerHandler& handler) noexcept override;
    std::unique_ptr<Mailbox> createMailbox(MessageHandler& handler) noexcept override;

private:
    QtEventLoop() = default;
};

// Makes the Qt loop the calling thread's current one, and lets the TCP port's warnings go
// through Qt's message handler (qWarning).
void useQtEventLoop() noexcept;

} // namespace dazoroz::net
