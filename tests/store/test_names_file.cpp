#include "store/names_file.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace dazoroz::store;
using namespace dazoroz::store::test_support;

namespace {

using Texts = std::vector<std::string>;

NamesList listOf(const Texts& texts) {
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

using namespace std::string_literals;

// ---- Reading: one row per shape of file ---------------------------------------------------

struct ReadCase {
    const char* name;
    std::string bytes;
    Texts expected; // in list order
};

class NamesFileReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(NamesFileReading, GivesTheseEntries) {
    const auto dir = freshTestDirectory();
    EXPECT_EQ(rows(loadBytes(dir / "names.txt", GetParam().bytes)), GetParam().expected);
}

// \032 is Ctrl-Z.
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
                      ReadCase{"CtrlZEndsTheFile", "b\r\n\032a\r\n", {"b"}},
                      ReadCase{"CtrlZEndsALine", "zed\r\nab\032cd\r\n", {"ab", "zed"}},
                      ReadCase{"CtrlZAfterCr", "a\r\032\nb", {"a"}},
                      ReadCase{"OnlyCtrlZ", "\032", {}},
                      ReadCase{"NulBytes", "b\0c\r\n\0\r\n"s, {"\0"s, "b\0c"s}},
                      ReadCase{
                          "HighBytesKept", "\xe9t\xe9\r\n\xff\xfe\r\n", {"\xe9t\xe9", "\xff\xfe"}}),
    [](const auto& p) { return std::string(p.param.name); });

// Nothing to read: no file, a directory, or a FIFO that must not make us wait for a writer.
TEST(NamesFileLoading, NoFileGivesAnEmptyListAndCreatesNothing) {
    const auto dir = freshTestDirectory();
    NamesList list;
    loadNames(list, dir / "names.txt");
    EXPECT_TRUE(listDirectory(dir).empty());
    fs::create_directory(dir / "names.txt");
    loadNames(list, dir / "names.txt");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    loadNames(list, dir / "fifo");
    EXPECT_TRUE(list.empty());
}

// A read that fails part-way keeps every entry read whole before it.
struct ReadFailureCase {
    std::size_t bytesBeforeFailure;
    Texts expected;
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
                                           ReadFailureCase{2, {"a"}},
                                           ReadFailureCase{5, {"a", "b"}},
                                           ReadFailureCase{8, {"a", "b"}},
                                           ReadFailureCase{9, {"a", "b", "cc"}},
                                           ReadFailureCase{100, {"a", "b", "cc"}}));

// ---- Writing ---------------------------------------------------------------------------

struct SaveCase {
    const char* name;
    Texts entries;
    std::string bytes;
};

class NamesFileSaving : public ::testing::TestWithParam<SaveCase> {};

// A new file, and a longer one replaced.
TEST_P(NamesFileSaving, WritesEveryEntryWithCrLfInListOrder) {
    const auto dir = freshTestDirectory();
    const NamesList list = listOf(GetParam().entries);
    EXPECT_TRUE(saveNames(list, dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "names.txt"), GetParam().bytes);
    writeFile(dir / "names.txt", std::string(5000, 'q'));
    EXPECT_TRUE(saveNames(list, dir / "names.txt"));
    EXPECT_EQ(readFile(dir / "names.txt"), GetParam().bytes);
    EXPECT_EQ(listDirectory(dir), Texts{"names.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Lists, NamesFileSaving,
    ::testing::Values(
        SaveCase{"EmptyListGivesZeroBytes", {}, ""},
        SaveCase{"Entries",
                 {"bob, 2", "", "Alice, 1", "a\nb", "Alice, 1"},
                 "\r\na\nb\r\nAlice, 1\r\nAlice, 1\r\nbob, 2\r\n"},
        // They would split the entry or cut the file short when read back.
        SaveCase{"CrAndCtrlZBecomeBlanks", {"a\032b", "c\rd", "zed"}, "a b\r\nc d\r\nzed\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

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
    Texts many;
    for (int i = 0; i < 20000; ++i) // more than one write's worth
        many.push_back("entry number " + std::to_string(i) + ", " + std::to_string(i));

    const auto dir = freshTestDirectory();
    const std::string previous = "keep, 1\r\nthese, 2\r\n";
    writeFile(dir / "names.txt", previous);
    EXPECT_FALSE(saveNames(listOf(many), dir / "names.txt", ops));
    EXPECT_TRUE(sameBytes(readFile(dir / "names.txt"), previous));
    EXPECT_EQ(listDirectory(dir), Texts{"names.txt"});

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
    EXPECT_EQ(listDirectory(dir / "names.txt"), Texts{"inside"});
    EXPECT_EQ(listDirectory(dir), Texts{"names.txt"});
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
    b = b.substr(0, b.find('\032'));
    std::size_t n = b.size();
    for (std::size_t i = 0; i < b.size(); ++i)
        n -= b[i] == '\r' || (b[i] == '\n' && i > 0 && b[i - 1] == '\r');
    return n;
}

std::string randomBytes(std::size_t n, unsigned seed, bool ctrlZ = true) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        do
            c = static_cast<char>(rng() & 0xff);
        while (!ctrlZ && c == '\032');
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
    for (int i = 0; i < list.size(); ++i)
        total += list.text(i).size();
    EXPECT_EQ(total, textBytes(c.bytes));

    ASSERT_TRUE(saveNames(list, dir / "names.txt"));
    NamesList again;
    loadNames(again, dir / "names.txt");
    EXPECT_TRUE(sameRows(rows(again), rows(list)));
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
                      BadInputCase{"BinaryAfterCtrlZ", "a\r\nb\r\n\032" + randomBytes(4096, 3), 2}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
