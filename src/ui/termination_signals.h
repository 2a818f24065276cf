#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace dazoroz::ui {

// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, kill, Ctrl-C in the terminal) turned into a
// Qt signal on the event loop through a self-pipe, so that the program can save its work and
// close as if the user had. A second signal of the same kind ends the program at once (for a
// program that hangs outside the event loop).
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. One object at a time.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    void received(int signalNumber);

private:
    void drain();

    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace dazoroz::ui
