#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace dazoroz::net {

// Base of the components' exceptions: Code, and the message "<code>: <description>".
class EComponentError : public std::runtime_error {
public:
    EComponentError(int code, const std::string& description);
    int Code;
};

// Every exception the TCP client port raises.
class EvlmIPPort : public EComponentError {
public:
    using EComponentError::EComponentError;
};

// Base of the TCP components: a non-visual component.
class TvlmCore {
public:
    TvlmCore() = default;
    virtual ~TvlmCore() = default;

    // The exception to raise for a refused operation; components override it with their own.
    virtual std::exception_ptr CreateError(int code, const std::string& message) const;

protected:
    [[noreturn]] void RaiseError(int code, const std::string& message) const;
};

} // namespace dazoroz::net
