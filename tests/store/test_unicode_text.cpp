// Text as the window's fields take it: case folding one character to one, broken UTF-8 as
// U+FFFD per byte, a byte-order mark at the start left out, lengths in UTF-16 units.

#include "store/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

using dazoroz::store::caseFolded;
using dazoroz::store::fieldLength;

namespace {

struct TextCase {
    const char* name;
    std::string text;
    std::string folded;
    std::size_t length;
};

class UnicodeText : public testing::TestWithParam<TextCase> {};

TEST_P(UnicodeText, FoldsAndCounts) {
    EXPECT_EQ(caseFolded(GetParam().text), GetParam().folded);
    EXPECT_EQ(fieldLength(GetParam().text), GetParam().length);
}

const std::string kReplacement = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases, UnicodeText,
    testing::Values(
        TextCase{"Ascii", "Ann, 12-34", "ann, 12-34", 10},
        TextCase{"Latin", "ÉMILE Zoë", "émile zoë", 9},
        TextCase{"SharpSStaysCapitalSharpSFolds", "Straße STRAẞE", "straße straße", 13},
        TextCase{"CapitalIWithDotStays", "İlker", "İlker", 5},
        TextCase{"FinalSigma", "ΟΔΥΣΣΕΥΣ οδυσσευς", "οδυσσευσ οδυσσευσ", 17},
        TextCase{"KelvinSign", "\u212Aate", "kate", 4},
        TextCase{"CherokeeFoldsToCapitals", "\uAB70li \u13A0LI", "\u13A0li \u13A0li", 7},
        TextCase{"Titlecase", "\u01C5\u01C4", "\u01C6\u01C6", 2},
        TextCase{"BeyondPlaneZero", "\U00010400\U0001F600", "\U00010428\U0001F600", 4},
        TextCase{"LeadingByteOrderMarkLeftOut", "\xEF\xBB\xBFYan\xEF\xBB\xBF", "yan\xEF\xBB\xBF",
                 4},
        TextCase{"BrokenBytesEach", "\xC3x\xE2\x82",
                 kReplacement + "x" + kReplacement + kReplacement, 4},
        TextCase{"SurrogateAndOverlong", "\xED\xA0\x80\xC0\xAF",
                 kReplacement + kReplacement + kReplacement + kReplacement + kReplacement, 5},
        TextCase{"Empty", "", "", 0}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
