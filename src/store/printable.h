#pragma once

// Text from a server, a client, a file or a user made safe for one line of a terminal or a
// script; shared by the programs that print such text.

#include <string>
#include <string_view>

namespace dazoroz::store {

// Every control character becomes \xNN (lower-case hex), byte by byte: C0 controls and DEL, C1
// controls written in UTF-8 (U+0080 to U+009F, both bytes), and bytes 0x80 to 0x9F that are not
// part of valid UTF-8 (an 8-bit terminal takes them for C1 controls). Other bytes stay as they
// are: valid UTF-8 whatever its bytes, and stray bytes from 0xA0 up.
std::string printable(std::string_view text);
// The same, appended to out.
void appendPrintable(std::string& out, std::string_view text);

} // namespace dazoroz::store
