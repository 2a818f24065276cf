#pragma once

#include <array>
#include <cstddef>

namespace dazoroz::net {

// Room for one formatted socket error text: the longest fits in 80 characters.
inline constexpr std::size_t kErrorTextSize = 81;
using ErrorTextArea = std::array<char, kErrorTextSize>;

// The table text of a Windows-sockets error code (compared on its low 16 bits), or nullptr.
const char* socketErrorDescription(int code) noexcept;

// Writes "[code] text" for a code of the table (the code printed as an unsigned 16-bit number),
// else "[code] (no description available)". Returns whether the code was in the table.
bool formatErrorText(int code, ErrorTextArea& area) noexcept;

} // namespace dazoroz::net
