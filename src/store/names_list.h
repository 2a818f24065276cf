#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::store {

// The recipients' names list: the only copy in memory. Entries are byte strings exactly as
// stored in names.txt ("Ann, 12-34"); each carries its check mark. The list stays in ascending
// order of the whole entry text without regard to letter case (the case-folded text compared in
// Unicode code point order; bytes that are not UTF-8 count as U+FFFD); entries that compare
// equal that way are ordered by their exact bytes, so the order is total and independent of
// insertion.
class NamesList {
public:
    int size() const noexcept { return static_cast<int>(entries_.size()); }
    bool empty() const noexcept { return entries_.empty(); }

    const std::string& text(int row) const { return at(row).text; }
    bool isChecked(int row) const { return at(row).checked; }
    void setChecked(int row, bool checked);
    int checkedCount() const noexcept { return checkedCount_; }
    // The checked entries' texts in list order (the recipients of a send).
    std::vector<std::string> checkedTexts() const;

    // Row at which add(text) would insert: after every entry that sorts before or equal to it.
    int insertionRow(std::string_view text) const;
    // Inserts an unchecked entry at its sorted place and returns its row.
    int add(std::string text);
    // Adds many unchecked entries at once, sorting only once (for loading large files); the
    // result is the same as adding them one by one. On an exception the list is unchanged.
    void addMany(std::vector<std::string> texts);
    void removeAt(int row);
    void clear() noexcept;

private:
    struct Entry {
        std::string text;
        std::string key; // case-folded text, the primary sort key
        bool checked = false;
    };
    static Entry makeEntry(std::string text);
    static bool less(const Entry& a, const Entry& b);
    const Entry& at(int row) const;

    std::vector<Entry> entries_;
    int checkedCount_ = 0;
};

// Pager ID of a names entry: the decimal digits after the character that follows the first
// comma, at most 10. Empty when the entry has no comma or no digits there.
std::string retrieveID(std::string_view entry);
// Name of a names entry: the text before the first comma (the whole text without one), without
// the blanks around it.
std::string retrieveName(std::string_view entry);

// The names file ("names.txt" in the working directory unless told otherwise).
inline const std::filesystem::path kNamesFileName{"names.txt"};

// The folder of the names file of the window started from the desktop menu (--data-folder):
// $XDG_DATA_HOME/dazoroz, or $HOME/.local/share/dazoroz when XDG_DATA_HOME is empty or not an
// absolute path. Empty when neither gives an absolute folder.
std::filesystem::path userDataFolder(std::string_view xdgDataHome, std::string_view home);

// Adds every entry of the file to the list (which the caller has emptied). A missing or
// unreadable file adds what could be read before the failure and reports nothing.
void loadNames(NamesList& list, const std::filesystem::path& file = kNamesFileName);
// Writes the whole list, each entry followed by CR LF. Never reports a failure; a failed
// save leaves the previous file as it was. Returns whether the file was replaced.
bool saveNames(const NamesList& list, const std::filesystem::path& file = kNamesFileName);

} // namespace dazoroz::store
