#include "names_list.h"

#include "store/unicode_text.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace dazoroz::store {

NamesList::Entry NamesList::makeEntry(std::string text) {
    Entry e;
    // The key is the case-folded text in UTF-8, so that keys compare as plain bytes (in code
    // point order).
    e.key = caseFolded(text);
    e.text = std::move(text);
    return e;
}

bool NamesList::less(const Entry& a, const Entry& b) {
    if (const int c = a.key.compare(b.key); c != 0)
        return c < 0;
    return a.text < b.text;
}

const NamesList::Entry& NamesList::at(int row) const {
    if (row < 0 || row >= size())
        throw std::out_of_range("names list row out of range");
    return entries_[static_cast<std::size_t>(row)];
}

void NamesList::setChecked(int row, bool checked) {
    at(row);
    Entry& e = entries_[static_cast<std::size_t>(row)];
    if (e.checked != checked)
        checkedCount_ += checked ? 1 : -1;
    e.checked = checked;
}

int NamesList::insertionRow(std::string_view text) const {
    const Entry probe = makeEntry(std::string(text));
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), probe, less);
    return static_cast<int>(it - entries_.begin());
}

int NamesList::add(std::string text) {
    Entry e = makeEntry(std::move(text));
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), e, less);
    const auto row = it - entries_.begin();
    entries_.insert(it, std::move(e));
    return static_cast<int>(row);
}

void NamesList::addMany(std::vector<std::string> texts) {
    if (texts.empty())
        return;
    // Sort the newcomers on their own and merge once: O(n log n), where inserting one by one
    // would shift the list for every entry. Nothing changes in the list until every step that
    // may throw is done.
    std::vector<Entry> added;
    added.reserve(texts.size());
    for (auto& t : texts)
        added.push_back(makeEntry(std::move(t)));
    std::stable_sort(added.begin(), added.end(), less);
    entries_.reserve(entries_.size() + added.size());
    const auto oldSize = static_cast<std::ptrdiff_t>(entries_.size());
    entries_.insert(entries_.end(), std::make_move_iterator(added.begin()),
                    std::make_move_iterator(added.end()));
    std::inplace_merge(entries_.begin(), entries_.begin() + oldSize, entries_.end(), less);
}

std::vector<std::string> NamesList::checkedTexts() const {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(checkedCount_));
    for (const Entry& e : entries_) {
        if (e.checked)
            out.push_back(e.text);
    }
    return out;
}

void NamesList::removeAt(int row) {
    at(row);
    const auto it = entries_.begin() + row;
    if (it->checked)
        --checkedCount_;
    entries_.erase(it);
}

void NamesList::clear() noexcept {
    entries_.clear();
    checkedCount_ = 0;
}

std::string retrieveID(std::string_view entry) {
    std::string id;
    const auto comma = entry.find(',');
    if (comma == std::string_view::npos)
        return id;
    for (std::size_t i = comma + 2; i < entry.size() && id.size() < 10; ++i) {
        const char c = entry[i];
        if (c >= '0' && c <= '9')
            id.push_back(c);
    }
    return id;
}

std::string retrieveName(std::string_view entry) {
    std::string_view name = entry.substr(0, entry.find(','));
    const auto blank = [](char c) {
        return c == ' ' || c == '\t';
    };
    while (!name.empty() && blank(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && blank(name.back()))
        name.remove_suffix(1);
    return std::string(name);
}

std::filesystem::path userDataFolder(std::string_view xdgDataHome, std::string_view home) {
    const std::filesystem::path xdg(xdgDataHome);
    if (xdg.is_absolute())
        return (xdg / "dazoroz").lexically_normal();
    const std::filesystem::path homeFolder(home);
    if (homeFolder.is_absolute())
        return (homeFolder / ".local/share/dazoroz").lexically_normal();
    return {};
}

} // namespace dazoroz::store
