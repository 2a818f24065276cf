#pragma once

#include <string>
#include <string_view>

namespace dazoroz::cli {

// Text made safe for one line of a terminal or a script: every control character (and DEL)
// becomes \xNN (lower-case hex); other bytes, UTF-8 included, stay as they are.
std::string printable(std::string_view text);

// The same, after dropping the line end (every trailing CR and LF) of a server reply.
std::string printableReply(std::string_view reply);

} // namespace dazoroz::cli
