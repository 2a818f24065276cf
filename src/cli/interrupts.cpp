#include "cli/interrupts.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace dazoroz::cli {

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM};

volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Nothing to do when the pipe is full: a byte already waits.
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
    // The next one of the same kind takes its default course.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    errno = savedErrno;
}

[[noreturn]] void systemFailure(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

Interrupts::Interrupts(net::EventLoop& loop) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        systemFailure("cannot make a pipe for signals");
    }
    readEnd_ = ends[0];
    writeEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    watch_ = loop.watchDescriptor(readEnd_, *this);
    if (!watch_) {
        ::close(readEnd_);
        ::close(ends[1]);
        writeEnd = -1;
        throw std::runtime_error("cannot watch the pipe for signals");
    }
    watch_->setEnabled(net::Readiness::Read, true);
    for (const int s : kSignals) {
        ::sigaction(s, &action, nullptr);
    }
}

Interrupts::~Interrupts() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (const int s : kSignals) {
        ::sigaction(s, &fallback, nullptr);
    }
    watch_.reset();
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
}

void Interrupts::descriptorReady(net::Readiness) noexcept {
    unsigned char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(readEnd_, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n && onInterrupt; ++i) {
            onInterrupt(bytes[i]);
        }
    }
}

std::optional<std::string> Interrupts::readInput(int inputFd, std::size_t limit) const {
    std::string input;
    char buffer[4096];
    for (;;) {
        std::array<pollfd, 2> watched{{{inputFd, POLLIN, 0}, {readEnd_, POLLIN, 0}}};
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            systemFailure("cannot wait for standard input");
        }
        if ((watched[1].revents & POLLIN) != 0) {
            return std::nullopt; // the byte stays for the loop
        }
        if (watched[0].revents == 0) {
            continue;
        }
        const ssize_t n = ::read(inputFd, buffer, sizeof buffer);
        if (n == 0) {
            return input;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            systemFailure("cannot read standard input");
        }
        input.append(buffer, static_cast<std::size_t>(n));
        if (input.size() > limit) {
            return input; // the caller finds it too long
        }
    }
}

} // namespace dazoroz::cli
