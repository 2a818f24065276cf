// Names on the command line are looked up without regard to letter case, letters beyond ASCII
// included, with the very results the window's names list has always given.

#include "cli/recipients.h"
#include "cli/usage_error.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using dazoroz::cli::resolveRecipients;

TEST(NameLookup, FindsTheEntryOfEveryCase) {
    dazoroz::store::NamesList names;
    names.addMany({"Émile, 11", "Zoë, 15", "Straße, 21", "STRASSE, 22", "İlker, 31", "ilker, 32",
                   "ΟΔΥΣΣΕΥΣ, 41", "Ωmega, 43", "\u212Aate, 51", "\uAB70li, 62", "\u01C5ordje, 71",
                   "\xEF\xBB\xBFYan, 81", "\xC3x, 91"});
    // clang-format off
    const std::pair<std::string, std::string> cases[] = { // a typed name, its entry ("": none)
        {"émile", "Émile, 11"}, {"ZOË", "Zoë, 15"}, {"straße", "Straße, 21"},
        {"STRAẞE", "Straße, 21"}, {"strasse", "STRASSE, 22"}, {"ss", ""}, {"ILKER", "ilker, 32"},
        {"İLKER", "İlker, 31"}, {"i\u0307lker", ""}, {"οδυσσευσ", "ΟΔΥΣΣΕΥΣ, 41"},
        {"ωMEGA", "Ωmega, 43"}, {"kate", "\u212Aate, 51"}, {"\u13A0LI", "\uAB70li, 62"},
        {"\u01C4ORDJE", "\u01C5ordje, 71"}, {"yan", "\xEF\xBB\xBFYan, 81"},
        {"\xEF\xBF\xBDX", "\xC3x, 91"}, {"\xFFX", "\xC3x, 91"}};
    // clang-format on
    for (const auto& [name, entry] : cases) {
        if (entry.empty())
            EXPECT_THROW(resolveRecipients({name}, names), dazoroz::cli::UsageError) << name;
        else
            EXPECT_EQ(resolveRecipients({name}, names).entries, std::vector<std::string>{entry})
                << name;
    }
}
