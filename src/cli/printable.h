#pragma once

#include "store/printable.h"

#include <string>
#include <string_view>

namespace dazoroz::cli {

// Text made safe for one line of a terminal or a script: control characters as \xNN.
using store::printable;

// The same, after dropping the line end (every trailing CR and LF) of a server reply.
std::string printableReply(std::string_view reply);

} // namespace dazoroz::cli
