#include "store/ini_file.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

using namespace dazoroz::store;
using namespace dazoroz::store::test_support;

namespace {

// ---- Reading ---------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string bytes;
    const char* key;
    std::optional<std::string> expected; // nullopt: the key is not found
};

class IniReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniReading, FindsTheValue) {
    const IniDocument doc(GetParam().bytes);
    EXPECT_EQ(doc.value("General", GetParam().key), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniReading,
    ::testing::Values(ReadCase{"Plain", "[General]\nserverIP=1.2.3.4\n", "serverIP", "1.2.3.4"},
                      ReadCase{"NamesIgnoreCase", "[gENERAL]\nSERVERip=x\n", "serverIP", "x"},
                      ReadCase{"BlanksAroundEverything",
                               "  [ General ]  \n\t serverIP \t=  a b  \t\n", "serverIP", "a b"},
                      ReadCase{"EmptyValueIsNotMissing", "[General]\nserverIP=\n", "serverIP", ""},
                      ReadCase{"DoubleQuotesStripped", "[General]\nm=\" hi \"\n", "m", " hi "},
                      ReadCase{"SingleQuotesStripped", "[General]\nm='x'\n", "m", "x"},
                      ReadCase{"OnlyOnePairStripped", "[General]\nm=\"\"x\"\"\n", "m", "\"x\""},
                      ReadCase{"UnmatchedQuotesKept", "[General]\nm=\"x'\n", "m", "\"x'"},
                      ReadCase{"LoneQuoteKept", "[General]\nm=\"\n", "m", "\""},
                      ReadCase{"QuotesInsideKept", "[General]\nm=say \"hi\"\n", "m", "say \"hi\""},
                      ReadCase{"SemicolonInValueKept", "[General]\nm=a ; b\n", "m", "a ; b"},
                      ReadCase{"CommentLineIgnored", "[General]\n;m=1\n  ; m=2\nm=3\n", "m", "3"},
                      ReadCase{"FirstDuplicateWins", "[General]\nm=1\nM=2\n", "m", "1"},
                      ReadCase{"OtherSectionNotSearched", "[Other]\nm=1\n[General]\nn=2\n", "m",
                               std::nullopt},
                      ReadCase{"RepeatedSectionContinues",
                               "[General]\na=1\n[Other]\nm=1\n[General]\nm=2\n", "m", "2"},
                      ReadCase{"HeaderWithTrailingText", "[General] ; main\nm=1\n", "m", "1"},
                      ReadCase{"NothingBeforeEqualsIsNoKey", "[General]\n=5\n", "", std::nullopt},
                      ReadCase{"CrLfLineEnds", "[General]\r\nm=1\r\n", "m", "1"},
                      ReadCase{"CrOnlyLineEnds", "[General]\rm=1\rn=2", "n", "2"},
                      ReadCase{"LastLineWithoutLineEnd", "[General]\nm=1", "m", "1"},
                      ReadCase{"ByteOrderMarkIgnored", "\xEF\xBB\xBF[General]\nm=1\n", "m", "1"},
                      ReadCase{"EmptySectionNameIsItsOwn", "[]\nm=1\n", "m", std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(IniReading, LongValuesAreCutWithoutSplittingACharacter) {
    const auto cut = [](const std::string& v) {
        return readProfileString(IniDocument("[General]\nm=" + v + "\n"), "General", "m", "");
    };
    EXPECT_EQ(cut(std::string(3000, 'x')), std::string(2047, 'x'));
    EXPECT_EQ(cut(std::string(2047, 'x')), std::string(2047, 'x'));
    std::string e2; // two-byte characters: the 1024th would straddle the cut
    for (int i = 0; i < 1500; ++i)
        e2 += "\xC3\xA9";
    EXPECT_EQ(cut(e2), e2.substr(0, 2046));
    EXPECT_EQ(cut("a" + e2), ("a" + e2).substr(0, 2047));
    std::string e4; // four-byte characters: 2047 = 4 * 511 + 3
    for (int i = 0; i < 600; ++i)
        e4 += "\xF0\x9F\x98\x80";
    EXPECT_EQ(cut(e4), e4.substr(0, 2044));
    // Stray continuation bytes are no character to protect.
    EXPECT_EQ(cut(std::string(3000, '\x80')), std::string(2047, '\x80'));
    EXPECT_EQ(readProfileString(IniDocument(), "General", "m", std::string(3000, 'd')).size(),
              2047u);
}

// ---- The integer rule --------------------------------------------------------------------

struct IntCase {
    const char* text;
    std::optional<std::int32_t> expected;
};

class IniInteger : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniInteger, FollowsTheRule) {
    EXPECT_EQ(parseProfileInt(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniInteger,
    ::testing::Values(
        IntCase{"444", 444}, IntCase{"0x1BC", 444}, IntCase{"0X1bc", 444}, IntCase{"$1BC", 444},
        IntCase{" 25", 25}, IntCase{" \t 25", 25}, IntCase{"-1", -1}, IntCase{"+7", 7},
        IntCase{"-$10", -16}, IntCase{"007", 7}, IntCase{"2147483647", 2147483647},
        IntCase{"-2147483648", -2147483647 - 1}, IntCase{"0x7FFFFFFF", 2147483647},
        IntCase{"2147483648", std::nullopt}, IntCase{"-2147483649", std::nullopt},
        IntCase{"0x80000000", std::nullopt}, IntCase{"99999999999999999999999", std::nullopt},
        IntCase{"4x4", std::nullopt}, IntCase{"abc", std::nullopt}, IntCase{"", std::nullopt},
        IntCase{" ", std::nullopt}, IntCase{"-", std::nullopt}, IntCase{"$", std::nullopt},
        IntCase{"0x", std::nullopt}, IntCase{"0x-5", std::nullopt}, IntCase{" 0x10", std::nullopt},
        IntCase{"25 ", std::nullopt}, IntCase{"1.5", std::nullopt}, IntCase{"--1", std::nullopt},
        IntCase{"$G", std::nullopt}));

// ---- Writing: one row per shape of file, with the exact bytes that result --------------

struct WriteCase {
    const char* name;
    std::string before;
    const char* key;
    std::string value;
    std::string after;
};

class IniWriting : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWriting, ChangesOnlyWhatItMust) {
    const auto& c = GetParam();
    IniDocument doc(c.before);
    doc.setValue("General", c.key, c.value);
    EXPECT_EQ(doc.bytes(), c.after);
    std::string readBack = c.value; // line breaks cannot be kept; everything else is
    std::replace(readBack.begin(), readBack.end(), '\r', ' ');
    std::replace(readBack.begin(), readBack.end(), '\n', ' ');
    EXPECT_EQ(doc.value("General", c.key), readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniWriting,
    ::testing::Values(
        WriteCase{"NewFileUsesLf", "", "k", "v", "[General]\nk=v\n"},
        WriteCase{"UpdateKeepsSpellingSpacingAndLineEnds",
                  "; top\r\n[general]\r\n  KEY = old  \r\nx=1\r\n", "key", "new",
                  "; top\r\n[general]\r\n  KEY = new  \r\nx=1\r\n"},
        WriteCase{"EmptyValueUpdated", "[General]\nk=\nz=1\n", "k", "v", "[General]\nk=v\nz=1\n"},
        WriteCase{"ValueCleared", "[General]\nk=old\n", "k", "", "[General]\nk=\n"},
        WriteCase{"FirstDuplicateUpdated", "[General]\nk=1\nk=2\n", "K", "9",
                  "[General]\nk=9\nk=2\n"},
        WriteCase{"NewKeyAfterLastKeyOfItsSection",
                  "[General]\na=1\n; about=Other\n\n[Other]\nk=2\n", "k", "3",
                  "[General]\na=1\nk=3\n; about=Other\n\n[Other]\nk=2\n"},
        WriteCase{"NewKeyRightAfterHeaderOfKeylessSection", "[General]\n; note\n", "k", "v",
                  "[General]\nk=v\n; note\n"},
        WriteCase{"NewKeyAfterLineWithoutLineEnd", "[General]\r\na=1", "k", "v",
                  "[General]\r\na=1\r\nk=v\r\n"},
        WriteCase{"NewKeyInRepeatedSectionGoesToItsLastKey",
                  "[General]\na=1\n[X]\n[general]\nb=2\n[Y]\n", "k", "v",
                  "[General]\na=1\n[X]\n[general]\nb=2\nk=v\n[Y]\n"},
        WriteCase{"NewSectionAfterBlankLine", "[Other]\r\nb=2\r\n", "k", "v",
                  "[Other]\r\nb=2\r\n\r\n[General]\r\nk=v\r\n"},
        WriteCase{"NewSectionNoSecondBlankLine", "[Other]\nb=2\n\n", "k", "v",
                  "[Other]\nb=2\n\n[General]\nk=v\n"},
        WriteCase{"NewSectionAfterTextWithoutLineEnd", "x=1", "k", "v", "x=1\n\n[General]\nk=v\n"},
        WriteCase{"HeaderWithoutBracketGetsARealOne", "[General\nk=1\n", "k", "2",
                  "[General\nk=1\n\n[General]\nk=2\n"},
        WriteCase{"CrOnlyFileKeepsCr", "[General]\ra=1\r", "k", "v", "[General]\ra=1\rk=v\r"},
        WriteCase{"ByteOrderMarkKept", "\xEF\xBB\xBF[General]\nk=1\n", "k", "2",
                  "\xEF\xBB\xBF[General]\nk=2\n"},
        WriteCase{"ValueWithEqualsAndSemicolon", "", "k", ";a=b", "[General]\nk=;a=b\n"},
        WriteCase{"BlanksAtTheEndsAreQuoted", "", "k", " v ", "[General]\nk=\" v \"\n"},
        WriteCase{"QuotedValueIsQuotedAgain", "", "k", "'v'", "[General]\nk=\"'v'\"\n"},
        WriteCase{"LineBreaksCannotAddLines", "[General]\nk=1\n", "k", "a\r\n[X]\nb",
                  "[General]\nk=a  [X] b\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// A file that cannot be read whole is neither read nor replaced.
TEST(IniFile, PartlyReadFileIsNotReplaced) {
    const auto dir = freshTestDirectory();
    writeFile(dir / "a.ini", "[General]\nk=1\n");
    FailingOps ops;
    ops.readBudget = 13; // all but the last line end
    EXPECT_FALSE(writeProfileString(dir / "a.ini", "General", "k", "2", ops));
    EXPECT_EQ(readFile(dir / "a.ini"), "[General]\nk=1\n");
    EXPECT_EQ(listDirectory(dir), std::vector<std::string>{"a.ini"});
    ops.readBudget = 13;
    EXPECT_FALSE(readIniFile(dir / "a.ini", ops).value("General", "k").has_value());
}

} // namespace
