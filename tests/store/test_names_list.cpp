#include "store/names_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dazoroz::store::NamesList;
using dazoroz::store::retrieveID;

namespace {

std::vector<std::string> rows(const NamesList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.size(); ++i)
        out.push_back(list.text(i));
    return out;
}

struct IdCase {
    const char* entry;
    const char* id;
};

class RetrieveId : public testing::TestWithParam<IdCase> {};

TEST_P(RetrieveId, TakesDigitsAfterTheSeparator) {
    EXPECT_EQ(retrieveID(GetParam().entry), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RetrieveId,
    testing::Values(IdCase{"Ann, 12-34", "1234"}, IdCase{"Joe, 987", "987"}, IdCase{"Joe,", ""},
                    IdCase{"Joe, ", ""}, IdCase{"Cy,123", "23"},
                    IdCase{"Lee, 3rd floor, 45", "345"},
                    IdCase{"Big, (123) 456-7890 12", "1234567890"},
                    IdCase{"Long, 12345678901234", "1234567890"}, IdCase{"no comma 123", ""},
                    IdCase{"", ""}, IdCase{",7", ""}, IdCase{",x7", "7"}));

TEST(NamesListOrder, SortsIgnoringCaseAndKeepsMarksWithEntries) {
    NamesList list;
    list.add("bob, 2");
    list.add("Alice, 1");
    list.setChecked(1, true); // bob
    list.add("Carl, 3");
    list.add("alice, 1");
    list.add("");
    EXPECT_EQ(rows(list), (std::vector<std::string>{"", "Alice, 1", "alice, 1", "bob, 2", "Carl, 3"}));
    EXPECT_TRUE(list.isChecked(3));
    EXPECT_EQ(list.checkedCount(), 1);
    list.removeAt(3);
    EXPECT_EQ(list.checkedCount(), 0);
    EXPECT_EQ(list.insertionRow("b"), 3);
}

TEST(NamesListOrder, BulkAddGivesTheSameOrderAsOneByOne) {
    const std::vector<std::string> texts{"zed", "Ann, 1", "ann, 1", "Ann, 1", "", "Émile, 5",
                                         "émile, 5", "bob"};
    NamesList one;
    for (const auto& t : texts)
        one.add(t);
    NamesList bulk;
    bulk.add("mid");
    one.add("mid");
    bulk.addMany(texts);
    EXPECT_EQ(rows(bulk), rows(one));
}

} // namespace
