#include "store/names_file.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace dazoroz::store;
using namespace dazoroz::store::test_support;

namespace {

std::vector<std::string> rows(const NamesList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.size(); ++i)
        out.push_back(list.text(i));
    return out;
}

NamesList listOf(const std::vector<std::string>& texts) {
    NamesList list;
    list.addMany(texts);
    return list;
}

NamesList loadBytes(const fs::path& file, const std::string& bytes) {
    writeFile(file, bytes);
    NamesList list;
    loadNames(list, file);
    return list;
}

std::string S(const char* bytes, std::size_t size) {
    return {bytes, size};
}

// ---- Reading: one row per shape of file ---------------------------------------------------

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected; // in list order
};

class NamesFileReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(NamesFileReading, GivesTheseEntries) {
    const auto dir = freshTestDirectory();
    EXPECT_EQ(rows(loadBytes(dir / "names.txt", GetParam().bytes)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NamesFileReading,
    ::testing::Values(ReadCase{"Empty", "", {}},
                      ReadCase{"CrLfLines", "bob, 2\r\nAlice, 1\r\n", {"Alice, 1", "bob, 2"}},
                      ReadCase{"LastLineWithoutLineEnd", "b\r\na", {"a", "b"}},
                      ReadCase{"LfOnlyIsOneEntry", "b\na\nc\n", {"b\na\nc\n"}},
                      ReadCase{"CrOnly", "b\ra\rc", {"a", "b", "c"}},
                      ReadCase{"EmptyLinesAreEntries", "x\r\n\r\n\r\n", {"", "", "x"}},
                      ReadCase{"OnlyOneLfSkippedAfterCr", "a\r\n\nb\r\n", {"\nb", "a"}},
                      ReadCase{"CrCrLf", "a\r\r\n", {"", "a"}},
                      ReadCase{"DuplicatesKept", "x\r\nX\r\nx\r\n", {"X", "x", "x"}},
                      ReadCase{"CtrlZEndsTheFile",
                               "b\r\n\x1a"
                               "a\r\n",
                               {"b"}},
                      ReadCase{"CtrlZEndsALine",
                               "zed\r\nab\x1a"
                               "cd\r\n",
                               {"ab", "zed"}},
                      ReadCase{"CtrlZAfterCr", "a\r\x1a\nb", {"a"}},
                      ReadCase{"OnlyCtrlZ", "\x1a", {}},
                      ReadCase{"NulBytes", S("b\0c\r\n\0\r\n", 8), {S("\0", 1), S("b\0c", 3)}},
                      ReadCase{
                          "HighBytesKept", "\xe9t\xe9\r\n\xff\xfe\r\n", {"\xe9t\xe9", "\xff\xfe"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NamesFileLoading, MissingFileGivesEmptyListAndCreatesNothing) {
    const auto dir = freshTestDirectory();
    NamesList list;
    loadNames(list, dir / "names.txt");
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(listDirectory(dir).empty());
}

TEST(NamesFileLoading, DirectoryOrFifoInPlaceOfTheFileGivesEmptyList) {
    const auto dir = freshTestDirectory();
    fs::create_directory(dir / "names.txt");
    NamesList list;
    loadNames(list, dir / "names.txt");
    EXPECT_TRUE(list.empty());

    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    loadNames(list, dir / "fifo"); // must not wait for a writer
    EXPECT_TRUE(list.empty());
}

// A read that fails part-way keeps every entry read whole before it.
struct ReadFailureCase {
    std::size_t bytesBeforeFailure;
    std::vector<std::string> expected;
};

class NamesFileReadFailure : public ::testing::TestWithParam<ReadFailureCase> {};

TEST_P(NamesFileReadFailure, KeepsTheEntriesReadBeforeIt) {
    const auto dir = freshTestDirectory();
    writeFile(dir / "names.txt", "a\r\nb\r\ncc\r\n");
    FailingOps ops;
    ops.readBudget = GetParam().bytesBeforeFailure;
    NamesList list;
    loadNames(list, dir / "names.txt", ops);
    EXPECT_EQ(rows(list), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Offsets, NamesFileReadFailure,
                         ::testing::Values(ReadFailureCase{0, {}}, ReadFailureCase{1, {}},
                                           ReadFailureCase{2, {"a"}}, ReadFailureCase{4, {"a"}},
                                           ReadFailureCase{5, {"a", "b"}},
                                           ReadFailureCase{7, {"a", "b"}},
                                           ReadFailureCase{8, {"a", "b"}},
                                           ReadFailureCase{9, {"a", "b", "cc"}},
                                           ReadFailureCase{100, {"a", "b", "cc"}}));

// ---- Writing ---------------------------------------------------------------------------

TEST(NamesFileSaving, EmptyListGivesZeroByteFile) {
    const auto dir = freshTestDirectory();
    EXPECT_TRUE(saveNames(NamesList{}, dir / "names.txt"));
    ASSERT_TRUE(fs::is_regular_file(dir / "names.txt"));
    EXPECT_EQ(fs::file_size(dir / "names.txt"), 0u);
}

TEST(NamesFileSaving, WritesEveryEntryWithCrLfInListOrderAndReplacesTheFile) {
    const auto dir = freshTestDirectory();
    writeFile(dir / "names.txt", std::string(5000, 'q'));
    const NamesList list = listOf({"bob, 2", "", "Alice, 1", "a\nb", "Alice, 1"});
    EXPECT_TRUE(saveNames(list, dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "names.txt"), "\r\na\nb\r\nAlice, 1\r\nAlice, 1\r\nbob, 2\r\n");
    EXPECT_EQ(listDirectory(dir), std::vector<std::string>{"names.txt"});

    NamesList again;
    loadNames(again, dir / "names.txt");
    EXPECT_EQ(rows(again), rows(list));
}

TEST(NamesFileSaving, CrAndCtrlZInsideAnEntryCannotCutTheFileShort) {
    const auto dir = freshTestDirectory();
    EXPECT_TRUE(saveNames(listOf({"a\x1a"
                                  "b",
                                  "c\rd", "zed"}),
                          dir / "names.txt"));
    NamesList again;
    loadNames(again, dir / "names.txt");
    EXPECT_EQ(rows(again), (std::vector<std::string>{"a b", "c d", "zed"}));
}

TEST(NamesFileSaving, WhatFollowedCtrlZIsGoneAfterTheNextSave) {
    const auto dir = freshTestDirectory();
    const NamesList list = loadBytes(dir / "names.txt", "b\r\na\x1a"
                                                        "c\r\n");
    EXPECT_TRUE(saveNames(list, dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "names.txt"), "a\r\nb\r\n");
}

TEST(NamesFileSaving, ExistingFileKeepsItsModeNewFileFollowsUmask) {
    const auto dir = freshTestDirectory();
    writeFile(dir / "kept.txt", "x\r\n");
    ASSERT_EQ(::chmod((dir / "kept.txt").c_str(), 0604), 0);
    EXPECT_TRUE(saveNames(listOf({"y"}), dir / "kept.txt"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "kept.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);

    const mode_t old = ::umask(027);
    const bool saved = saveNames(listOf({"y"}), dir / "new.txt");
    ::umask(old);
    EXPECT_TRUE(saved);
    ASSERT_EQ(::stat((dir / "new.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(NamesFileSaving, WritesThroughASymbolicLink) {
    const auto dir = freshTestDirectory();
    fs::create_directory(dir / "real");
    writeFile(dir / "real" / "list.txt", "old\r\n");
    fs::create_symlink("real/list.txt", dir / "names.txt");
    EXPECT_TRUE(saveNames(listOf({"new"}), dir / "names.txt"));
    EXPECT_TRUE(fs::is_symlink(dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "real" / "list.txt"), "new\r\n");
}

// Every way a save can fail leaves the previous file byte for byte (or none, when there was
// none), and no temporary file.
struct SaveFailureCase {
    const char* name;
    std::optional<std::size_t> writeBudget;
    bool writeReturnsZero = false;
    bool failFsync = false;
    int renamesBeforeFailure = -1;
};

class NamesFileSaveFailure : public ::testing::TestWithParam<SaveFailureCase> {};

TEST_P(NamesFileSaveFailure, KeepsThePreviousFile) {
    const auto& c = GetParam();
    FailingOps ops;
    ops.writeBudget = c.writeBudget;
    ops.writeReturnsZero = c.writeReturnsZero;
    ops.failFsync = c.failFsync;
    ops.renamesBeforeFailure = c.renamesBeforeFailure;
    std::vector<std::string> many;
    for (int i = 0; i < 20000; ++i) // more than one write's worth
        many.push_back("entry number " + std::to_string(i) + ", " + std::to_string(i));

    const auto dir = freshTestDirectory();
    const std::string previous = "keep, 1\r\nthese, 2\r\n";
    writeFile(dir / "names.txt", previous);
    EXPECT_FALSE(saveNames(listOf(many), dir / "names.txt", ops));
    EXPECT_EQ(readFile(dir / "names.txt"), previous);
    EXPECT_EQ(listDirectory(dir), std::vector<std::string>{"names.txt"});

    fs::remove(dir / "names.txt");
    EXPECT_FALSE(saveNames(listOf({"a", "b"}), dir / "names.txt", ops));
    EXPECT_TRUE(listDirectory(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, NamesFileSaveFailure,
                         ::testing::Values(SaveFailureCase{"DiskFullAtOnce", 0},
                                           SaveFailureCase{"DiskFullPartWay", 3},
                                           SaveFailureCase{"WriteMakesNoProgress", {}, true},
                                           SaveFailureCase{"FlushFails", {}, false, true},
                                           SaveFailureCase{"RenameFails", {}, false, false, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(NamesFileSaveRefused, MissingDirectoryOrDirectoryInPlaceOfTheFile) {
    const auto dir = freshTestDirectory();
    EXPECT_FALSE(saveNames(listOf({"a"}), dir / "gone" / "names.txt"));
    EXPECT_FALSE(fs::exists(dir / "gone"));

    fs::create_directory(dir / "names.txt");
    writeFile(dir / "names.txt" / "inside", "x");
    EXPECT_FALSE(saveNames(listOf({"a"}), dir / "names.txt"));
    EXPECT_EQ(listDirectory(dir / "names.txt"), std::vector<std::string>{"inside"});
    EXPECT_EQ(listDirectory(dir), std::vector<std::string>{"names.txt"});
}

TEST(NamesFileSaveRefused, WriteProtectedFileStaysForOrdinaryUsers) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write to any file";
    const auto dir = freshTestDirectory();
    writeFile(dir / "names.txt", "old\r\n");
    ASSERT_EQ(::chmod((dir / "names.txt").c_str(), 0444), 0);
    EXPECT_FALSE(saveNames(listOf({"new"}), dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "names.txt"), "old\r\n");
}

// ---- Bad input: no file content may crash, hang or lose what can be read -----------------

struct BadInputCase {
    const char* name;
    std::string bytes;
    int expectedEntries; // -1: whatever the bytes give
};

// What the entries hold between them: every byte before the first Ctrl-Z but the line ends.
std::size_t textBytes(std::string_view b) {
    b = b.substr(0, b.find('\x1a'));
    std::size_t n = b.size();
    for (std::size_t i = 0; i < b.size(); ++i)
        n -= b[i] == '\r' || (b[i] == '\n' && i > 0 && b[i - 1] == '\r');
    return n;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string randomBytes(std::size_t n, unsigned seed, bool ctrlZ = true) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        do
            c = static_cast<char>(rng() & 0xff);
        while (!ctrlZ && c == '\x1a');
    }
    return s;
}

std::string hundredThousandLines() {
    std::string s;
    for (int i = 100000; i-- > 0;)
        s += (i % 2 ? "Name " : "name ") + std::to_string(i) + ", " + std::to_string(i) + "\r\n";
    return s;
}

class NamesFileBadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(NamesFileBadInput, LoadsWhatItCanAndSavesItBackUnchanged) {
    const auto dir = freshTestDirectory();
    const auto& c = GetParam();
    const NamesList list = loadBytes(dir / "names.txt", c.bytes);
    if (c.expectedEntries >= 0) {
        EXPECT_EQ(list.size(), c.expectedEntries);
    }
    std::size_t total = 0;
    const bool ascii = std::all_of(c.bytes.begin(), c.bytes.end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    for (int i = 0; i < list.size(); ++i) {
        total += list.text(i).size();
        ASSERT_EQ(list.text(i).find_first_of(std::string("\r\x1a")), std::string::npos) << i;
        if (ascii && i > 0) {
            ASSERT_LE(lower(list.text(i - 1)), lower(list.text(i))) << i;
        }
    }
    EXPECT_EQ(total, textBytes(c.bytes));

    ASSERT_TRUE(saveNames(list, dir / "names.txt"));
    NamesList again;
    loadNames(again, dir / "names.txt");
    EXPECT_EQ(rows(again), rows(list));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, NamesFileBadInput,
    ::testing::Values(BadInputCase{"RandomBytes", randomBytes(1 << 16, 1), -1},
                      BadInputCase{"RandomBytesWithoutCtrlZ", randomBytes(1 << 16, 2, false), -1},
                      BadInputCase{"TenMegabyteSingleLine", std::string(10u << 20, 'n'), 1},
                      BadInputCase{"NulBytesOnly", std::string(1000, '\0'), 1},
                      BadInputCase{"CrOnlyFile", std::string(100000, '\r'), 100000},
                      BadInputCase{"LfOnlyFile", std::string(100000, '\n'), 1},
                      BadInputCase{"HundredThousandLines", hundredThousandLines(), 100000},
                      BadInputCase{"BinaryAfterCtrlZ", "a\r\nb\r\n\x1a" + randomBytes(4096, 3), 2}),
    [](const auto& p) { return std::string(p.param.name); });

// Lines of any bytes but CR and Ctrl-Z come back exactly, whatever they hold.
TEST(NamesFileBadInput, RandomLinesComeBackExactly) {
    std::mt19937 rng(11);
    std::vector<std::string> lines;
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        std::string line;
        for (auto n = rng() % 40; n-- > 0;) {
            const auto c = static_cast<char>(rng() & 0xff);
            if (c != '\r' && c != '\x1a')
                line += c;
        }
        bytes += line + "\r\n";
        lines.push_back(std::move(line));
    }
    auto got = rows(loadBytes(freshTestDirectory() / "names.txt", bytes));
    std::sort(got.begin(), got.end());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(got, lines);
}

} // namespace
