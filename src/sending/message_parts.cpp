#include "message_parts.h"

#include "send_logic.h"

#include <algorithm>
#include <cstddef>

namespace dazoroz::sending {

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

bool isGap(char c) {
    return c == ' ' || c == kCR || c == kLF;
}

// Every line break (CR LF, a lone CR, a lone LF) as CR LF, as DATA sends it.
std::string withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != kCR && text[i] != kLF) {
            out.push_back(text[i]);
            continue;
        }
        out += "\r\n";
        if (text[i] == kCR && i + 1 < text.size() && text[i + 1] == kLF)
            ++i;
    }
    return out;
}

// Whether a part may end just before text[i]: not inside a UTF-8 sequence or a CR LF.
bool cutAllowed(std::string_view text, std::size_t i) {
    if (i == 0 || i >= text.size())
        return true;
    const auto byte = static_cast<unsigned char>(text[i]);
    return (byte & 0xC0) != 0x80 && !(text[i] == kLF && text[i - 1] == kCR);
}

std::size_t digits(std::size_t n) {
    std::size_t count = 1;
    for (; n >= 10; n /= 10)
        ++count;
    return count;
}

struct Span {
    std::size_t from;
    std::size_t to;
};

// Where the k-th part ends when it starts at `from` and has `room` bytes for its text.
std::size_t partEnd(std::string_view text, std::size_t from, std::size_t room,
                    std::size_t quarter) {
    const std::size_t limitAt = from + room;
    // The last gap among the part's last quarter, or just past it.
    for (std::size_t at = limitAt; at + quarter >= limitAt && at > from; --at) {
        if (!isGap(text[at]))
            continue;
        std::size_t end = at;
        while (end > from && isGap(text[end - 1]))
            --end;
        if (end > from)
            return end;
        break; // only gaps before it: cut the text instead
    }
    // Back to the start of a UTF-8 sequence or of a CR LF; bytes that are not UTF-8 are cut
    // where they stand.
    std::size_t end = limitAt;
    for (int back = 0; back < 3 && !cutAllowed(text, end); ++back)
        --end;
    return cutAllowed(text, end) ? end : limitAt;
}

// The parts' spans when their count has `countDigits` digits.
std::vector<Span> cut(std::string_view text, std::size_t limit, std::size_t countDigits) {
    std::vector<Span> spans;
    for (std::size_t from = 0, k = 1; from < text.size(); ++k) {
        const std::size_t numbering = 4 + digits(k) + countDigits; // "(k/n) "
        // At least a whole UTF-8 sequence, even for texts far longer than any page.
        const std::size_t room =
            std::max<std::size_t>(limit > numbering ? limit - numbering : 0, 4);
        if (text.size() - from <= room) {
            spans.push_back({from, text.size()});
            break;
        }
        const std::size_t to = partEnd(text, from, room, limit / 4);
        spans.push_back({from, to});
        from = to;
        while (from < text.size() && isGap(text[from]))
            ++from;
    }
    return spans;
}

} // namespace

std::vector<std::string> messageParts(std::string_view message, std::int32_t limit,
                                      bool keepLineBreaks) {
    const std::string text = keepLineBreaks ? withCrLf(message) : oneLine(std::string(message));
    if (limit <= 0 || text.size() <= static_cast<std::size_t>(limit))
        return {text};
    const auto bytes = static_cast<std::size_t>(std::max(limit, kMinMessageLimit));
    // The numbering's length depends on the count of parts, and the count on the room the
    // numbering leaves: more digits never mean fewer parts, so this ends.
    std::size_t countDigits = 1;
    std::vector<Span> spans = cut(text, bytes, countDigits);
    while (digits(spans.size()) > countDigits) {
        countDigits = digits(spans.size());
        spans = cut(text, bytes, countDigits);
    }
    if (spans.size() == 1) // only the gaps at its end were over the limit
        return {text.substr(spans[0].from, spans[0].to - spans[0].from)};
    std::vector<std::string> parts;
    parts.reserve(spans.size());
    const std::string count = std::to_string(spans.size());
    for (std::size_t k = 0; k < spans.size(); ++k) {
        std::string part = "(" + std::to_string(k + 1) + "/" + count + ") ";
        part.append(text, spans[k].from, spans[k].to - spans[k].from);
        parts.push_back(std::move(part));
    }
    return parts;
}

std::string dataBlock(std::string_view text) {
    std::string block;
    block.reserve(text.size() + 8);
    for (std::size_t from = 0; from < text.size();) {
        std::size_t end = text.find_first_of("\r\n", from);
        if (end == std::string_view::npos)
            end = text.size();
        if (text[from] == '.')
            block += '.';
        block.append(text.substr(from, end - from));
        block += "\r\n";
        from = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
    }
    block += ".\r\n";
    return block;
}

} // namespace dazoroz::sending
