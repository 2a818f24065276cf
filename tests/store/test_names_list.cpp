#include "store/names_list.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dazoroz::store::NamesList;
using dazoroz::store::retrieveID;
using dazoroz::store::test_support::rows;

namespace {

struct IdCase {
    const char* entry;
    const char* id;
};

class RetrieveId : public testing::TestWithParam<IdCase> {};

TEST_P(RetrieveId, TakesDigitsAfterTheSeparator) {
    EXPECT_EQ(retrieveID(GetParam().entry), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Entries, RetrieveId,
                         testing::Values(IdCase{"Ann, 12-34", "1234"}, IdCase{"Joe, 987", "987"},
                                         IdCase{"Joe,", ""}, IdCase{"Joe, ", ""},
                                         IdCase{"Cy,123", "23"},
                                         IdCase{"Lee, 3rd floor, 45", "345"},
                                         IdCase{"Big, (123) 456-7890 12", "1234567890"},
                                         IdCase{"Long, 12345678901234", "1234567890"},
                                         IdCase{"no comma 123", ""}, IdCase{"", ""},
                                         IdCase{",7", ""}, IdCase{",x7", "7"},
                                         IdCase{"Two, 1, 2", "12"}, IdCase{"Ünïcode, ½ 5", "5"}));

// Adding in any order gives the one sorted order.
struct OrderCase {
    const char* name;
    std::vector<std::string> added;
    std::vector<std::string> expected;
};

class NamesListSorting : public testing::TestWithParam<OrderCase> {};

TEST_P(NamesListSorting, OneByOneAndInBulk) {
    const auto& c = GetParam();
    NamesList one;
    for (const auto& t : c.added)
        one.add(t);
    EXPECT_EQ(rows(one), c.expected);

    NamesList reversed;
    for (auto it = c.added.rbegin(); it != c.added.rend(); ++it)
        reversed.add(*it);
    EXPECT_EQ(rows(reversed), c.expected);

    NamesList bulk;
    bulk.addMany(c.added);
    EXPECT_EQ(rows(bulk), c.expected);
    EXPECT_EQ(bulk.checkedCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NamesListSorting,
    testing::Values(
        OrderCase{
            "IgnoresCase", {"bob, 2", "Alice, 1", "carl, 3"}, {"Alice, 1", "bob, 2", "carl, 3"}},
        OrderCase{"WholeTextCounts", {"Ann, 2", "Ann, 10", "Ann"}, {"Ann", "Ann, 10", "Ann, 2"}},
        OrderCase{"EmptyEntryFirst", {"a", "", "B"}, {"", "a", "B"}},
        OrderCase{"DuplicatesKept", {"x", "y", "x", "x"}, {"x", "x", "x", "y"}},
        OrderCase{"CaseTwinsStayTogether",
                  {"ann, 1", "Bob", "ANN, 1", "Ann, 1"},
                  {"ANN, 1", "Ann, 1", "ann, 1", "Bob"}},
        OrderCase{"NonAsciiFoldsCase",
                  {"Émile", "b", "émile", "Ézra", "ÉMILE", "Zoë"},
                  {"b", "Zoë", "ÉMILE", "Émile", "émile", "Ézra"}},
        OrderCase{"LineFeedAndNulAreText",
                  {std::string("a\nb"), std::string("a\0b", 3), "a"},
                  {"a", std::string("a\0b", 3), std::string("a\nb")}},
        OrderCase{"InvalidUtf8", {"\xff", "\xfe", "a"}, {"a", "\xfe", "\xff"}},
        // Letters beyond ASCII, in the order the list has always given them.
        OrderCase{"UnicodeCaseFolding",
                  {"Émile, 11",
                   "émile, 12",
                   "ÉMILE, 13",
                   "Ezra, 14",
                   "Zoë, 15",
                   "ZOË, 16",
                   "Straße, 21",
                   "STRASSE, 22",
                   "STRAẞE, 23",
                   "strasse, 24",
                   "İlker, 31",
                   "ilker, 32",
                   "ILKER, 33",
                   "ΟΔΥΣΣΕΥΣ, 41",
                   "οδυσσευς, 42",
                   "Ωmega, 43",
                   "\u212Aate, 51",
                   "kate, 52",
                   "\u13A0li, 61",
                   "\uAB70li, 62",
                   "\u01C5ordje, 71",
                   "\u01C6ordje, 72",
                   "\xEF\xBB\xBFYan, 81",
                   "yan, 82",
                   "\xC3x, 91",
                   "\xEF\xBF\xBDx, 92",
                   "\xFFx, 93"},
                  {"Ezra, 14",     "ilker, 32",           "ILKER, 33",       "\u212Aate, 51",
                   "kate, 52",     "STRASSE, 22",         "strasse, 24",     "Straße, 21",
                   "STRAẞE, 23",   "\xEF\xBB\xBFYan, 81", "yan, 82",         "Zoë, 15",
                   "ZOË, 16",      "Émile, 11",           "émile, 12",       "ÉMILE, 13",
                   "İlker, 31",    "\u01C5ordje, 71",     "\u01C6ordje, 72", "ΟΔΥΣΣΕΥΣ, 41",
                   "οδυσσευς, 42", "Ωmega, 43",           "\u13A0li, 61",    "\uAB70li, 62",
                   "\xC3x, 91",    "\xEF\xBF\xBDx, 92",   "\xFFx, 93"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NamesListMarks, MoveWithTheirEntries) {
    NamesList list;
    list.add("bob, 2");
    list.add("dan, 4");
    list.setChecked(1, true); // dan
    list.setChecked(0, true); // bob
    list.setChecked(0, true); // twice is still one
    EXPECT_EQ(list.add("Alice, 1"), 0);
    EXPECT_EQ(list.add("carl, 3"), 2);
    // Merged in bulk: a case twin of a checked entry sorts before it by its exact bytes.
    list.addMany({"eve", "BOB, 2", "Aaron"});
    EXPECT_EQ(rows(list), (std::vector<std::string>{"Aaron", "Alice, 1", "BOB, 2", "bob, 2",
                                                    "carl, 3", "dan, 4", "eve"}));
    for (int row = 0; row < list.size(); ++row)
        EXPECT_EQ(list.isChecked(row), row == 3 || row == 5) << row;
    EXPECT_EQ(list.checkedTexts(), (std::vector<std::string>{"bob, 2", "dan, 4"}));

    list.removeAt(3); // bob leaves with its mark
    EXPECT_EQ(list.checkedCount(), 1);
    EXPECT_EQ(list.checkedTexts(), (std::vector<std::string>{"dan, 4"}));
    list.setChecked(4, false);
    EXPECT_EQ(list.checkedCount(), 0);
    EXPECT_TRUE(list.checkedTexts().empty());
    list.add("bob, 2");
    EXPECT_FALSE(list.isChecked(3)); // a re-added entry starts unchecked
}

TEST(NamesListRows, InsertionRowIsWhereAddPutsTheEntry) {
    NamesList list;
    list.addMany({"b", "B", "d", "", "a"});
    for (const std::string t : {"", "A", "b", "B", "c", "zz", "\xff"}) {
        NamesList copy = list;
        const int expected = copy.insertionRow(t);
        EXPECT_EQ(copy.add(t), expected) << t;
        EXPECT_EQ(copy.text(expected), t);
    }
}

} // namespace
