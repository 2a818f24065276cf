#pragma once

#include <stdexcept>

namespace dazoroz::cli {

// A command line, settings or input that cannot make a send; the message is one line for the
// user, without the program's name.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace dazoroz::cli
