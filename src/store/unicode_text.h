#pragma once

// UTF-8 text as the window's text fields take it: bytes that are not UTF-8 count as U+FFFD, one
// for each byte of a broken sequence, and a byte-order mark at the start is left out. The same
// in the window and in dazoroz-send, which links no Qt.

#include <cstddef>
#include <string>
#include <string_view>

namespace dazoroz::store {

// The text with its letter case folded, in UTF-8, so that texts that differ only in letter case
// fold to the same bytes, and folded texts compare as bytes in code point order. Each character
// is folded on its own, one to one: "ÉMILE" and "Émile" fold alike, "ẞ" folds to "ß", and "ß"
// stays as it is.
std::string caseFolded(std::string_view text);

// The number of characters a text field counts: UTF-16 units, so a character beyond U+FFFF
// counts two.
std::size_t fieldLength(std::string_view text);

} // namespace dazoroz::store
