#pragma once

#include "store/file_io.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::store {

// An INI ("profile") file in memory, read and changed the way the usual profile routines do:
//  - lines end at LF, CR LF or a lone CR; blanks (space, tab) around lines, names and values
//    do not count; a UTF-8 byte order mark at the start is ignored;
//  - "[name]" starts a section (text after the "]" is ignored); a "[" line without "]" is no
//    section header;
//  - a line whose first non-blank character is ";" is a comment;
//  - "key=value" sets a key; the key ends at the first "=", so values may hold "="; a line
//    without "=" (or with nothing before it) is no key;
//  - section and key names match without regard to ASCII letter case; a section that appears
//    more than once continues where it left off; of duplicate keys the first one counts;
//  - keys before the first section belong to none and are never found.
// Changing a value rewrites only that value; every other byte stays as it was.
class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string bytes);

    const std::string& bytes() const noexcept { return bytes_; }

    // The key's value without surrounding blanks and without one pair of matching single or
    // double quotes around it; nullopt when the key is not there (an empty value is "").
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Sets the key: an existing key is changed where it stands (keeping its spelling and the
    // blanks before its value); a new key goes after the last key of its section; a new section
    // goes at the end of the file. New lines take the file's line end (LF for a new file).
    // Line breaks in the value are written as blanks; a value that would read back differently
    // (blanks at its ends, or enclosed in matching quotes) is written inside double quotes.
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in the section (a duplicate would count once the first is
    // gone); returns how many went. Every other byte stays as it was.
    int removeKey(std::string_view section, std::string_view key);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::size_t begin = 0; // first byte of the line
        std::size_t end = 0;   // end of its text, before the line end
        std::size_t next = 0;  // start of the following line
        Kind kind = Kind::Other;
        std::size_t nameBegin = 0; // section or key name
        std::size_t nameEnd = 0;
        std::size_t valueBegin = 0; // value of a key, blanks removed
        std::size_t valueEnd = 0;
    };
    void parse();
    std::string_view name(const Line& line) const;
    std::string_view lineEnd() const;

    std::string bytes_;
    std::vector<Line> lines_;
};

// Longest value that reading returns; longer ones are cut.
inline constexpr std::size_t kMaxProfileValue = 2047;

// The integer rule: "0x"/"0X" followed by something reads as hexadecimal; otherwise leading
// blanks, an optional sign, then decimal digits or "$" and hexadecimal digits, within the
// 32-bit signed range. nullopt for anything else, the empty text included.
std::optional<std::int32_t> parseProfileInt(std::string_view text);

// Reading from a document: the default when the key is missing. A text is cut to
// kMaxProfileValue bytes, never in the middle of a UTF-8 character.
std::string readProfileString(const IniDocument& doc, std::string_view section,
                              std::string_view key, std::string_view fallback);
std::int32_t readProfileInt(const IniDocument& doc, std::string_view section, std::string_view key,
                            std::int32_t fallback);

// The file as a document; a missing or unreadable file gives an empty one, and so does one
// that `trust` refuses (with the reason in `refusal`, when given).
IniDocument readIniFile(const std::filesystem::path& file, FileOps& ops = systemFileOps(),
                        FileTrust trust = FileTrust::Any, std::string* refusal = nullptr);

// Writes one key to the file at once (read, change, replace safely; the mode as `access` says,
// the checks as `trust` says). A missing file is created, a missing directory is not. False
// when the file could not be read or written; the file is then as it was.
bool writeProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value,
                        FileOps& ops = systemFileOps(), FileAccess access = FileAccess::Keep,
                        FileTrust trust = FileTrust::Any);

// Removes the key from the file (see IniDocument::removeKey); a file without it, or a missing
// file, is left alone. False when the file could not be read or written; it is then as it was.
bool removeProfileKey(const std::filesystem::path& file, std::string_view section,
                      std::string_view key, FileOps& ops = systemFileOps(),
                      FileAccess access = FileAccess::Keep, FileTrust trust = FileTrust::Any);

} // namespace dazoroz::store
