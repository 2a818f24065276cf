#pragma once

#include "store/printable.h"

#include <string>
#include <string_view>

namespace dazoroz::cli {

// Text made safe for one line of a terminal or a script: control characters as \xNN.
using store::appendPrintable;
using store::printable;

// A server reply without its line end (every trailing CR and LF).
std::string_view withoutLineEnd(std::string_view reply);

} // namespace dazoroz::cli
