#include "store/unicode_text.h"

#include <utf8proc.h>

#include <algorithm>

namespace dazoroz::store {

namespace {

constexpr utf8proc_int32_t kReplacement = 0xFFFD;
constexpr utf8proc_int32_t kCapitalIWithDot = 0x130;
constexpr utf8proc_int32_t kLastOfPlaneZero = 0xFFFF;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Calls take(c) for each character of the text, as the window decodes it.
template <typename Take> void forEachCharacter(std::string_view text, Take take) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    for (utf8proc_ssize_t at = 0; at < size;) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &c);
        if (length > 0) {
            at += length;
        } else {
            ++at; // a broken sequence: each of its bytes stands for one U+FFFD
            c = kReplacement;
        }
        take(c);
    }
}

// Simple case folding. utf8proc gives the full folding, which turns a few characters into
// several ("ß" into "ss"); for those the simple folding is the lowercase mapping ("ẞ" to "ß"),
// but for the capital I with dot, which has none at all.
utf8proc_int32_t folded(utf8proc_int32_t c) {
    utf8proc_int32_t full[4];
    int boundClass = 0;
    const utf8proc_ssize_t n = utf8proc_decompose_char(c, full, 4, UTF8PROC_CASEFOLD, &boundClass);
    if (n == 1) {
        return full[0];
    }
    return n > 1 && c != kCapitalIWithDot ? utf8proc_tolower(c) : c;
}

} // namespace

std::string caseFolded(std::string_view text) {
    std::string out;
    if (isAscii(text)) {
        // By far the most common: only A to Z change.
        out.assign(text);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return out;
    }
    out.reserve(text.size());
    forEachCharacter(text, [&out](utf8proc_int32_t c) {
        utf8proc_uint8_t encoded[4];
        const utf8proc_ssize_t n = utf8proc_encode_char(folded(c), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(n));
    });
    return out;
}

std::size_t fieldLength(std::string_view text) {
    if (isAscii(text)) {
        return text.size();
    }
    std::size_t length = 0;
    forEachCharacter(text,
                     [&length](utf8proc_int32_t c) { length += c > kLastOfPlaneZero ? 2 : 1; });
    return length;
}

} // namespace dazoroz::store
