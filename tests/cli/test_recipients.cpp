// Names on the command line are looked up without regard to letter case, letters beyond ASCII
// included, with the very results the window's names list has always given.

#include "cli/recipients.h"
#include "cli/usage_error.h"

#include <gtest/gtest.h>

#include <string>

using dazoroz::cli::resolveRecipients;
using dazoroz::cli::UsageError;

namespace {

struct LookupCase {
    std::string name;
    std::string entry; // empty: an unknown name
};

class NameLookup : public testing::TestWithParam<LookupCase> {
protected:
    static dazoroz::store::NamesList names() {
        dazoroz::store::NamesList list;
        list.addMany({"Émile, 11", "Zoë, 15", "Straße, 21", "STRASSE, 22", "İlker, 31", "ilker, 32",
                      "ΟΔΥΣΣΕΥΣ, 41", "Ωmega, 43", "\u212Aate, 51", "\uAB70li, 62",
                      "\u01C5ordje, 71", "\xEF\xBB\xBFYan, 81", "\xC3x, 91"});
        return list;
    }
};

TEST_P(NameLookup, FindsTheEntryOfEveryCase) {
    const LookupCase& c = GetParam();
    if (c.entry.empty()) {
        EXPECT_THROW(resolveRecipients({c.name}, names()), UsageError);
        return;
    }
    EXPECT_EQ(resolveRecipients({c.name}, names()).entries, std::vector<std::string>{c.entry});
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameLookup,
    testing::Values(LookupCase{"émile", "Émile, 11"}, LookupCase{"EZRA", ""},
                    LookupCase{"ZOË", "Zoë, 15"}, LookupCase{"straße", "Straße, 21"},
                    LookupCase{"STRAẞE", "Straße, 21"}, LookupCase{"strasse", "STRASSE, 22"},
                    LookupCase{"ss", ""}, LookupCase{"ILKER", "ilker, 32"},
                    LookupCase{"İLKER", "İlker, 31"}, LookupCase{"i\u0307lker", ""},
                    LookupCase{"οδυσσευσ", "ΟΔΥΣΣΕΥΣ, 41"}, LookupCase{"ωMEGA", "Ωmega, 43"},
                    LookupCase{"kate", "\u212Aate, 51"}, LookupCase{"\u13A0LI", "\uAB70li, 62"},
                    LookupCase{"\u01C4ORDJE", "\u01C5ordje, 71"},
                    LookupCase{"yan", "\xEF\xBB\xBFYan, 81"},
                    LookupCase{"\xEF\xBF\xBDX", "\xC3x, 91"}, LookupCase{"\xFFX", "\xC3x, 91"}));

} // namespace
