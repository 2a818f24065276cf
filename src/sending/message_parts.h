#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::sending {

// The smallest part length a message may be split to: room for the longest numbering a page
// could need and some text.
inline constexpr std::int32_t kMinMessageLimit = 20;

// Whether `limit` may be stored: 0 (never split) or kMinMessageLimit and more.
constexpr bool isMessageLimit(std::int32_t limit) {
    return limit == 0 || limit >= kMinMessageLimit;
}

// The texts of the pages a message goes out as, in order, each as it goes on the wire: with
// MESS (`keepLineBreaks` false) every line break is one blank; with DATA every line break is
// CR LF.
//
// With a `limit` of 0 or less, or a text of at most `limit` bytes, that is one page, the whole
// text. A longer text is cut into parts of at most `limit` bytes each, numbering included: the
// k-th of n parts starts with "(k/n) ". A part ends at the last blank or line break that leaves
// it within the limit when there is one among its last limit/4 bytes (the one just past the
// limit counts), else at the limit; never inside a UTF-8 sequence or a CR LF. Blanks and line
// breaks at the cuts are dropped. A limit from 1 to 19 counts as 20.
std::vector<std::string> messageParts(std::string_view message, std::int32_t limit,
                                      bool keepLineBreaks);

// The bytes that follow a DATA command's 354 reply for a page's text (with CR LF line breaks):
// each line ended by CR LF, a line that starts with "." with a second "." in front, then the
// line ".". A line break at the very end of the text ends its last line; it does not start an
// empty one.
std::string dataBlock(std::string_view text);

} // namespace dazoroz::sending
