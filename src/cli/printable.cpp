#include "cli/printable.h"

namespace dazoroz::cli {

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    return out;
}

std::string printableReply(std::string_view reply) {
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
        reply.remove_suffix(1);
    }
    return printable(reply);
}

} // namespace dazoroz::cli
