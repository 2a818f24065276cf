#pragma once

#include "store/file_io.h"
#include "store/names_list.h"

#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::store {

inline constexpr char kEndOfFileMark = '\x1a'; // Ctrl-Z

// The entries held in the bytes of a names file: a line ends at CR (an LF right after it
// belongs to the line end), a lone LF is part of the entry, Ctrl-Z or the end ends the file.
// When `whole` is false the bytes stop where a read failed, so an unfinished last line is left
// out.
std::vector<std::string> splitNamesFile(std::string_view bytes, bool whole = true);

// The file's bytes for a list: every entry followed by CR LF. A CR or Ctrl-Z inside an entry
// is written as a blank, since it would split the entry or cut the file short when read back.
std::string formatNamesFile(const NamesList& list);

// loadNames and saveNames through the given system calls (tests make them fail).
void loadNames(NamesList& list, const std::filesystem::path& file, FileOps& ops);
bool saveNames(const NamesList& list, const std::filesystem::path& file, FileOps& ops);

} // namespace dazoroz::store
