// A message's length as the window's text field counts it: UTF-16 units, broken UTF-8 one per
// byte, a byte-order mark at the start not at all. (Case folding: the names tables.)

#include "store/unicode_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(FieldLength, CountsAsTheWindowDoes) {
    const std::pair<std::string, std::size_t> cases[] = {{"Call home", 9},
                                                         {"Émile Zoë", 9},
                                                         {"\U0001F600 x", 4},
                                                         {"\xEF\xBB\xBFYan\xEF\xBB\xBF", 4},
                                                         {"\xC3x\xE2\x82", 4},
                                                         {"\xED\xA0\x80", 3},
                                                         {"", 0}};
    for (const auto& [text, length] : cases) {
        EXPECT_EQ(dazoroz::store::fieldLength(text), length) << text;
    }
}
