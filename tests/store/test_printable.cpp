#include "store/printable.h"

#include <gtest/gtest.h>

#include <string>

using dazoroz::store::printable;

namespace {

struct Case {
    const char* what;
    std::string text;
    std::string shown;
};

class Printable : public testing::TestWithParam<Case> {};

TEST_P(Printable, EscapesEveryControlCharacter) {
    EXPECT_EQ(printable(GetParam().text), GetParam().shown) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Printable,
    testing::Values(Case{"plain", "Call home", "Call home"},
                    Case{"C0 and DEL", std::string("a\0\t\r\n\x1b[2J\x7f", 10),
                         "a\\x00\\x09\\x0d\\x0a\\x1b[2J\\x7f"},
                    Case{"UTF-8 with bytes 0x80 to 0x9f inside", "Grüße € \U0001F600 \u00a0",
                         "Grüße € \U0001F600 \u00a0"},
                    Case{"C1 in UTF-8: U+0080, U+0085, U+009B, U+009F", "\u0080\u0085x\u009b\u009f",
                         "\\xc2\\x80\\xc2\\x85x\\xc2\\x9b\\xc2\\x9f"},
                    Case{"raw C1 bytes",
                         "a\x9b"
                         "2J\x85\x80",
                         "a\\x9b2J\\x85\\x80"},
                    Case{"stray bytes from 0xa0 up stay", "caf\xe9 \xa0\xff", "caf\xe9 \xa0\xff"},
                    Case{"sequence cut short", "\xe2\x82", "\xe2\\x82"},
                    Case{"lead byte before ASCII",
                         "\xc2"
                         "A",
                         "\xc2"
                         "A"},
                    Case{"overlong forms", "\xc0\x80\xe0\x80\x9b", "\xc0\\x80\xe0\\x80\\x9b"},
                    Case{"surrogate", "\xed\xa0\x80", "\xed\xa0\\x80"},
                    Case{"above U+10FFFF", "\xf4\x90\x80\x80", "\xf4\\x90\\x80\\x80"}));

} // namespace
