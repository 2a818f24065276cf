#include "store/printable.h"

namespace dazoroz::store {

namespace {

unsigned char byteAt(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// The length of the well-formed UTF-8 sequence of two or more bytes at text[i], or 0.
std::size_t sequenceLength(std::string_view text, std::size_t i) {
    const unsigned char lead = byteAt(text, i);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte, narrower after some leads
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;  // no overlong forms
        high = lead == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - i < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char byte = byteAt(text, i + k);
        if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xbf)) {
            return 0;
        }
    }
    return length;
}

void appendEscaped(std::string& out, unsigned char byte) {
    static constexpr char hex[] = "0123456789abcdef";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 0x0f];
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendPrintable(out, text);
    return out;
}

void appendPrintable(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        // A run of printable ASCII, the usual case, goes in one piece.
        std::size_t plain = i;
        while (plain < text.size() && byteAt(text, plain) >= 0x20 && byteAt(text, plain) < 0x7f) {
            ++plain;
        }
        if (plain > i) {
            out.append(text.substr(i, plain - i));
            i = plain;
            continue;
        }
        const unsigned char byte = byteAt(text, i);
        const std::size_t length = byte < 0x80 ? 1 : sequenceLength(text, i);
        if (length == 0) {
            // Not UTF-8: a byte on its own.
            if (byte <= 0x9f) {
                appendEscaped(out, byte);
            } else {
                out += text[i];
            }
            ++i;
        } else if (length == 1 ? byte < 0x20 || byte == 0x7f
                               : byte == 0xc2 && byteAt(text, i + 1) <= 0x9f) {
            for (std::size_t k = 0; k < length; ++k) {
                appendEscaped(out, byteAt(text, i + k));
            }
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
}

} // namespace dazoroz::store
