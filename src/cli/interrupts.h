#pragma once

#include "net/event_loop.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace dazoroz::cli {

// Ctrl-C (SIGINT) and SIGTERM, turned into a call on the event loop through a self-pipe, so
// that the Cancel they stand for runs like any other handler. A second signal of the same kind
// ends the program at once (for a run that hangs outside the event loop).
class Interrupts final : private net::ReadinessHandler {
public:
    // Installs the handlers and watches the pipe on the loop. One object at a time.
    explicit Interrupts(net::EventLoop& loop);
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // Standard input up to its end, or until more than limit bytes have come (the caller
    // refuses that); nothing when a signal came first.
    // Throws std::runtime_error when input cannot be read.
    std::optional<std::string> readInput(int inputFd, std::size_t limit) const;

    // Called on the loop for each signal, with its number.
    std::function<void(int signalNumber)> onInterrupt;

private:
    void descriptorReady(net::Readiness which) noexcept override;

    int readEnd_ = -1;
    std::unique_ptr<net::DescriptorWatch> watch_;
};

} // namespace dazoroz::cli
