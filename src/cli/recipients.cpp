#include "cli/recipients.h"

#include "cli/printable.h"
#include "cli/usage_error.h"
#include "store/unicode_text.h"

#include <algorithm>

namespace dazoroz::cli {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string inQuotes(std::string_view text) {
    return "\"" + printable(text) + "\"";
}

// The one entry of names that the display name picks.
std::string entryFor(std::string_view name, const store::NamesList& names,
                     const std::string& namesFile) {
    const std::string key = store::caseFolded(name);
    std::vector<std::string> matches;
    for (int row = 0; row < names.size(); ++row) {
        const std::string& entry = names.text(row);
        if (store::caseFolded(displayName(entry)) == key) {
            matches.push_back(entry);
        }
    }
    if (matches.empty()) {
        throw UsageError("unknown name " + inQuotes(name) + ": no entry of " +
                         printable(namesFile) + " has that name");
    }
    const std::string id = store::retrieveID(matches.front());
    const bool oneId = std::all_of(matches.begin(), matches.end(), [&](const std::string& m) {
        return store::retrieveID(m) == id;
    });
    if (!oneId) {
        std::string list;
        for (const std::string& m : matches) {
            list += (list.empty() ? "" : ", ") + inQuotes(m);
        }
        throw UsageError("the name " + inQuotes(name) +
                         " is not unique in names.txt: it has the entries " + list);
    }
    if (id.empty()) {
        throw UsageError("the names.txt entry " + inQuotes(matches.front()) +
                         " holds no pager ID after its comma");
    }
    return matches.front();
}

} // namespace

bool isPagerId(std::string_view argument) {
    return !argument.empty() && std::all_of(argument.begin(), argument.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
}

std::string displayName(std::string_view entry) {
    return std::string(trimmed(entry.substr(0, entry.find(','))));
}

std::string typedIdEntry(std::string_view id) {
    return "Pager, " + std::string(id);
}

bool needsNames(const std::vector<std::string>& arguments) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::string& a) { return !isPagerId(a); });
}

Recipients resolveRecipients(const std::vector<std::string>& arguments,
                             const store::NamesList& names, const std::string& namesFile) {
    if (arguments.empty()) {
        throw UsageError("no recipient: give pager IDs or names from names.txt");
    }
    Recipients result;
    for (const std::string& argument : arguments) {
        if (isPagerId(argument)) {
            if (argument.size() > kMaxPagerIdDigits) {
                throw UsageError("the pager ID " + argument + " has more than " +
                                 std::to_string(kMaxPagerIdDigits) + " digits");
            }
            result.entries.push_back(typedIdEntry(argument));
            continue;
        }
        const std::string_view name = trimmed(argument);
        if (name.empty()) {
            throw UsageError("an empty recipient: give a pager ID or a name from names.txt");
        }
        result.entries.push_back(entryFor(name, names, namesFile));
    }
    if (arguments.size() == 1 && isPagerId(arguments.front())) {
        result.pagerNumber = arguments.front();
        result.entries.clear();
    }
    return result;
}

} // namespace dazoroz::cli
