#include "termination_signals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace dazoroz::ui {

namespace {

constexpr std::array kSignals{SIGTERM, SIGHUP, SIGINT};

volatile std::sig_atomic_t writeEnd = -1;

void setAction(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Nothing to do when the pipe is full: a byte already waits.
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
    setAction(signalNumber, SIG_DFL); // the next one takes its default course
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("cannot make a pipe for signals: ") +
                                 std::strerror(errno));
    readEnd_ = ends[0];
    writeEnd = ends[1];
    for (const int s : kSignals) {
        struct sigaction current {};
        // A signal the program was started to ignore (nohup) stays ignored.
        if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            setAction(s, onSignal);
    }
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals() {
    for (const int s : kSignals) {
        struct sigaction current {};
        if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler == onSignal)
            setAction(s, SIG_DFL);
    }
    notifier_.reset();
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
}

void TerminationSignals::drain() {
    unsigned char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(readEnd_, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit received(bytes[i]);
    }
}

} // namespace dazoroz::ui
