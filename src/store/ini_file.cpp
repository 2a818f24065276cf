#include "ini_file.h"

#include <exception>
#include <iterator>
#include <limits>

namespace dazoroz::store {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineBreaks = "\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// Narrows [begin, end) of `text` to its part without blanks at either end.
void trim(std::string_view text, std::size_t& begin, std::size_t& end) {
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
}

bool quotedPair(std::string_view v) {
    return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

std::string encodeValue(std::string_view value) {
    std::string v(value);
    for (char& c : v) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    if (!v.empty() && (isBlank(v.front()) || isBlank(v.back()) || quotedPair(v)))
        v = '"' + v + '"';
    return v;
}

// Length of the UTF-8 character that starts with `lead`; 1 for anything that is not a lead.
std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0 && lead < 0xF0)
        return 3;
    if (lead >= 0xC0 && lead < 0xE0)
        return 2;
    return 1;
}

void cutValue(std::string& v) {
    if (v.size() <= kMaxProfileValue)
        return;
    std::size_t cut = kMaxProfileValue;
    for (std::size_t back = 1; back <= 3; ++back) {
        const auto c = static_cast<unsigned char>(v[cut - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        if (utf8Length(c) > back)
            cut -= back; // that character would not fit whole
        break;
    }
    v.resize(cut);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

IniDocument::IniDocument(std::string bytes) : bytes_(std::move(bytes)) {
    parse();
}

void IniDocument::parse() {
    lines_.clear();
    const std::string_view text(bytes_);
    std::size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        line.end = std::min(text.find_first_of(kLineBreaks, pos), text.size());
        line.next = line.end;
        if (line.next < text.size() && text[line.next++] == '\r' && line.next < text.size() &&
            text[line.next] == '\n')
            ++line.next;

        std::size_t b = line.begin;
        if (b == 0 && text.starts_with(kByteOrderMark))
            b = std::min(kByteOrderMark.size(), line.end);
        std::size_t e = line.end;
        trim(text, b, e);
        if (b < e && text[b] == '[') {
            const std::size_t close = text.substr(b, e - b).find(']');
            if (close != std::string_view::npos) {
                line.kind = Kind::Section;
                line.nameBegin = b + 1;
                line.nameEnd = b + close;
                trim(text, line.nameBegin, line.nameEnd);
            }
        } else if (b < e && text[b] != ';') {
            const std::size_t eq = text.substr(b, e - b).find('=');
            if (eq != std::string_view::npos && eq > 0) {
                line.kind = Kind::Key;
                line.nameBegin = b;
                line.nameEnd = b + eq;
                trim(text, line.nameBegin, line.nameEnd);
                line.valueBegin = b + eq + 1;
                line.valueEnd = e;
                trim(text, line.valueBegin, line.valueEnd);
            }
        }
        lines_.push_back(line);
        pos = line.next;
    }
}

std::string_view IniDocument::name(const Line& line) const {
    return std::string_view(bytes_).substr(line.nameBegin, line.nameEnd - line.nameBegin);
}

std::string_view IniDocument::lineEnd() const {
    for (const Line& line : lines_) {
        if (line.next > line.end)
            return std::string_view(bytes_).substr(line.end, line.next - line.end);
    }
    return "\n";
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    bool inSection = false;
    for (const Line& line : lines_) {
        if (line.kind == Kind::Section) {
            inSection = sameName(name(line), section);
        } else if (line.kind == Kind::Key && inSection && sameName(name(line), key)) {
            std::string_view v =
                std::string_view(bytes_).substr(line.valueBegin, line.valueEnd - line.valueBegin);
            if (quotedPair(v))
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::nullopt;
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    const std::string encoded = encodeValue(value);
    const std::string eol(lineEnd());

    bool inSection = false;
    const Line* header = nullptr;
    const Line* lastKey = nullptr;
    for (const Line& line : lines_) {
        if (line.kind == Kind::Section) {
            inSection = sameName(name(line), section);
            if (inSection && header == nullptr)
                header = &line;
        } else if (line.kind == Kind::Key && inSection) {
            if (sameName(name(line), key)) {
                bytes_.replace(line.valueBegin, line.valueEnd - line.valueBegin, encoded);
                parse();
                return;
            }
            lastKey = &line;
        }
    }

    const std::string keyLine = std::string(key) + "=" + encoded + eol;
    if (header != nullptr) {
        const Line& anchor = lastKey != nullptr ? *lastKey : *header;
        // The anchor may be the file's last line, without a line end of its own.
        bytes_.insert(anchor.next, anchor.next == anchor.end ? eol + keyLine : keyLine);
    } else {
        std::string added;
        if (!lines_.empty()) {
            const Line& last = lines_.back();
            if (last.next == last.end)
                added += eol;
            std::size_t b = last.begin;
            std::size_t e = last.end;
            trim(bytes_, b, e);
            if (b < e)
                added += eol; // a blank line between sections
        }
        added += "[" + std::string(section) + "]" + eol + keyLine;
        bytes_ += added;
    }
    parse();
}

int IniDocument::removeKey(std::string_view section, std::string_view key) {
    int removed = 0;
    bool inSection = false;
    // From the last line back, so that the places of the lines before stay valid.
    for (auto line = lines_.rbegin(); line != lines_.rend(); ++line) {
        if (line->kind != Kind::Key || !sameName(name(*line), key))
            continue;
        inSection = false;
        for (auto before = std::next(line); before != lines_.rend(); ++before) {
            if (before->kind == Kind::Section) {
                inSection = sameName(name(*before), section);
                break;
            }
        }
        if (inSection) {
            bytes_.erase(line->begin, line->next - line->begin);
            ++removed;
        }
    }
    if (removed > 0)
        parse();
    return removed;
}

std::optional<std::int32_t> parseProfileInt(std::string_view text) {
    std::string t(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t.replace(0, 2, "$");

    std::size_t i = 0;
    while (i < t.size() && isBlank(t[i]))
        ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    int base = 10;
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    }
    if (i == t.size())
        return std::nullopt;

    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < t.size(); ++i) {
        const int d = hexDigit(t[i]);
        if (d < 0 || d >= base)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > kLimit)
            return std::nullopt;
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

std::string readProfileString(const IniDocument& doc, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    std::string v = doc.value(section, key).value_or(std::string(fallback));
    cutValue(v);
    return v;
}

std::int32_t readProfileInt(const IniDocument& doc, std::string_view section, std::string_view key,
                            std::int32_t fallback) {
    return parseProfileInt(readProfileString(doc, section, key, "")).value_or(fallback);
}

IniDocument readIniFile(const std::filesystem::path& file, FileOps& ops, FileTrust trust,
                        std::string* refusal) {
    try {
        std::string bytes;
        if (readWholeFile(file, bytes, ops, trust, refusal) != ReadResult::Complete)
            return {};
        return IniDocument(std::move(bytes));
    } catch (const std::exception&) {
        return {};
    }
}

bool writeProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value, FileOps& ops,
                        FileAccess access, FileTrust trust) {
    try {
        std::string bytes;
        const ReadResult read = readWholeFile(file, bytes, ops, trust);
        if (read == ReadResult::Failed || read == ReadResult::Refused)
            return false;
        IniDocument doc(std::move(bytes));
        doc.setValue(section, key, value);
        return replaceFile(file, doc.bytes(), ops, access, trust);
    } catch (const std::exception&) {
        return false;
    }
}

bool removeProfileKey(const std::filesystem::path& file, std::string_view section,
                      std::string_view key, FileOps& ops, FileAccess access, FileTrust trust) {
    try {
        std::string bytes;
        const ReadResult read = readWholeFile(file, bytes, ops, trust);
        if (read == ReadResult::Missing)
            return true;
        if (read != ReadResult::Complete)
            return false;
        IniDocument doc(std::move(bytes));
        return doc.removeKey(section, key) == 0 ||
               replaceFile(file, doc.bytes(), ops, access, trust);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace dazoroz::store
