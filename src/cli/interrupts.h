#pragma once

#include <QObject>

#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace dazoroz::cli {

// Ctrl-C (SIGINT) and SIGTERM, turned into a Qt signal on the event loop through a self-pipe,
// so that the Cancel they stand for runs like any other handler. A second signal of the same
// kind ends the program at once (for a run that hangs outside the event loop).
class Interrupts : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. One object at a time.
    explicit Interrupts(QObject* parent = nullptr);
    ~Interrupts() override;
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // Standard input up to its end, or until more than limit bytes have come (the caller
    // refuses that); nothing when a signal came first.
    // Throws std::runtime_error when input cannot be read.
    std::optional<std::string> readInput(int inputFd, std::size_t limit) const;

signals:
    void interrupted(int signalNumber);

private:
    void drain();

    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace dazoroz::cli
