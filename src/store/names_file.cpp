#include "names_file.h"

#include <exception>

namespace dazoroz::store {

std::vector<std::string> splitNamesFile(std::string_view bytes, bool whole) {
    std::vector<std::string> entries;
    std::size_t pos = 0;
    while (pos < bytes.size() && bytes[pos] != kEndOfFileMark) {
        std::size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != kEndOfFileMark)
            ++end;
        if (end == bytes.size() && !whole)
            break;
        entries.emplace_back(bytes.substr(pos, end - pos));
        pos = end;
        if (pos < bytes.size() && bytes[pos] == '\r') {
            ++pos;
            if (pos < bytes.size() && bytes[pos] == '\n')
                ++pos;
        }
    }
    return entries;
}

std::string formatNamesFile(const NamesList& list) {
    std::size_t total = 0;
    for (int row = 0; row < list.size(); ++row)
        total += list.text(row).size() + 2;
    std::string out;
    out.reserve(total);
    for (int row = 0; row < list.size(); ++row) {
        const std::size_t start = out.size();
        out += list.text(row);
        for (std::size_t i = start; i < out.size(); ++i) {
            if (out[i] == '\r' || out[i] == kEndOfFileMark)
                out[i] = ' ';
        }
        out += "\r\n";
    }
    return out;
}

void loadNames(NamesList& list, const std::filesystem::path& file, FileOps& ops) {
    try {
        std::string bytes;
        const ReadResult result = readWholeFile(file, bytes, ops);
        if (result == ReadResult::Missing)
            return;
        list.addMany(splitNamesFile(bytes, result == ReadResult::Complete));
    } catch (const std::exception&) {
        // Out of memory for a huge file: whatever is in the list stays, without a message.
    }
}

bool saveNames(const NamesList& list, const std::filesystem::path& file, FileOps& ops) {
    try {
        return replaceFile(file, formatNamesFile(list), ops);
    } catch (const std::exception&) {
        return false;
    }
}

void loadNames(NamesList& list, const std::filesystem::path& file) {
    loadNames(list, file, systemFileOps());
}

bool saveNames(const NamesList& list, const std::filesystem::path& file) {
    return saveNames(list, file, systemFileOps());
}

} // namespace dazoroz::store
