#pragma once

#include "store/names_list.h"

#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::cli {

// The recipients of one send as the window would hold them: one typed pager number
// (single-recipient mode), or names-list entries as if checked (multi-recipient mode).
struct Recipients {
    std::string pagerNumber;          // single-recipient mode: the typed ID
    std::vector<std::string> entries; // multi-recipient mode: the entries, in command-line order

    bool single() const noexcept { return entries.empty(); }
};

// Pager IDs have at most this many digits (the window's pager-number field holds ten, and only
// ten digits of an entry ever reach the server).
inline constexpr std::size_t kMaxPagerIdDigits = 10;

// Whether a command-line recipient is a pager ID: decimal digits only.
bool isPagerId(std::string_view argument);

// The display name of an entry: the text before its first comma (the whole text without one),
// without surrounding blanks.
std::string displayName(std::string_view entry);

// The queue entry for a typed ID among several recipients. Its display name is "Pager", so the
// send log reads "Sending to: Pager, 5551234 ...".
std::string typedIdEntry(std::string_view id);

// Whether some recipient is a name, so that the names list must be loaded.
bool needsNames(const std::vector<std::string>& arguments);

// The command line's recipients, each a pager ID or the display name of exactly one entry of
// names (several entries with the same pager ID count as one). One ID alone gives
// single-recipient mode; anything else pages entries. Throws UsageError on an empty list, an ID
// of more than 10 digits, an unknown or ambiguous name, or an entry without a pager ID; the error
// for an unknown name says that `namesFile` was looked in.
Recipients resolveRecipients(const std::vector<std::string>& arguments,
                             const store::NamesList& names,
                             const std::string& namesFile = "names.txt in the working directory");

} // namespace dazoroz::cli
