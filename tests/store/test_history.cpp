// The history database: the places it refuses, and what its rows, filters and CSV give.
#include "store/history.h"
#include "store_test_support.h"

#include <gmock/gmock.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <ctime>

namespace dazoroz::store {
namespace {

using namespace test_support;
namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void sql(const fs::path& file, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

struct PlaceRow {
    std::string name;
    void (*prepare)(const fs::path& dir, const fs::path& file);
    std::string error; // part of the error; empty: it opens, folder 0700 and file 0600
};

void PrintTo(const PlaceRow& row, std::ostream* os) {
    *os << row.name;
}

const PlaceRow kPlaces[] = {
    {"Fresh", [](const fs::path&, const fs::path&) {}, {}},
    {"OpenToOthers",
     [](const fs::path& dir, const fs::path& file) {
         fs::create_directories(dir);
         fs::permissions(dir, fs::perms::owner_all);
         writeFile(file, "");
         fs::permissions(file, fs::perms::all);
     },
     {}},
    {"FileIsALink",
     [](const fs::path& dir, const fs::path& file) {
         fs::create_directories(dir);
         fs::create_symlink(dir / "elsewhere.sqlite", file);
     },
     "history.sqlite is a symbolic link"},
    {"FolderIsALink",
     [](const fs::path& dir, const fs::path&) {
         fs::create_directories(dir.parent_path() / "real");
         fs::create_directory_symlink(dir.parent_path() / "real", dir);
     },
     "dazoroz is a symbolic link"},
    {"FolderOthersMayWrite",
     [](const fs::path& dir, const fs::path&) {
         fs::create_directories(dir);
         fs::permissions(dir, fs::perms::all);
     },
     "other users may write in the folder"},
    {"NotADatabase",
     [](const fs::path& dir, const fs::path& file) {
         fs::create_directories(dir);
         writeFile(file, std::string(4096, 'x'));
     },
     "history.sqlite is not a history database (it is left as it is)"},
    {"NewerSchema",
     [](const fs::path&, const fs::path& file) {
         History{file};
         sql(file, "PRAGMA user_version = 2");
     },
     "written by a newer version of Dazoroz"},
};

class HistoryPlace : public ::testing::TestWithParam<PlaceRow> {};

TEST_P(HistoryPlace, OpensOnlyAPrivatePlace) {
    const PlaceRow& row = GetParam();
    const fs::path dir = freshTestDirectory() / "state/dazoroz";
    const fs::path file = dir / "history.sqlite";
    row.prepare(dir, file);
    const std::string before = readFile(file);
    if (row.error.empty()) {
        EXPECT_NO_THROW(History{file});
        EXPECT_EQ(modeOf(dir), 0700u);
        EXPECT_EQ(modeOf(file), 0600u);
        return;
    }
    try {
        History history(file);
        ADD_FAILURE() << "opened";
    } catch (const HistoryError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr(row.error));
    }
    EXPECT_EQ(readFile(file), before);
}

INSTANTIATE_TEST_SUITE_P(Places, HistoryPlace, ::testing::ValuesIn(kPlaces),
                         [](const auto& row) { return row.param.name; });

class HistoryRows : public ::testing::Test {
protected:
    void SetUp() override {
        PageRow ann{0,
                    {},
                    {},
                    "window",
                    "Ann",
                    "1234",
                    "Disk full\r\nsecond \"line\"",
                    1,
                    "pager.example.org",
                    444,
                    false,
                    "",
                    Outcome::unknown,
                    ""};
        PageRow typed{0,
                      {},
                      {},
                      "cli",
                      "",
                      "5550000",
                      "100% sure_thing",
                      1,
                      "pager.example.org",
                      444,
                      true,
                      "ops",
                      Outcome::refused,
                      "550 Invalid pager ID"};
        PageRow bob{
            0, {}, {}, "cli", "Bob", "555", "call", 2, "backup", 2444, false, "", Outcome::unknown,
            ""};
        for (PageRow* row : {&ann, &typed, &bob})
            history_.insert(*row);
        ann.outcome = Outcome::accepted;
        ann.reply = "250 Message Sent";
        history_.update(ann);
        history_.makeDurable();
        ann_ = ann;
    }

    History history_{freshTestDirectory() / "dazoroz/history.sqlite"};
    PageRow ann_;
};

TEST_F(HistoryRows, FilterByTextInAnyShownColumnAndByOutcome) {
    using O = HistoryFilter::Outcomes;
    char today[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "%Y-%m-%d ", std::localtime(&now));
    const struct {
        std::string text;
        O outcomes;
        std::vector<std::int64_t> ids;
    } rows[] = {
        {"", O::all, {3, 2, 1}}, {"", O::failed, {3, 2}},    {"", O::accepted, {1}},
        {"ANN", O::all, {1}},    {"%", O::all, {2}},         {"_", O::all, {2}},
        {"second", O::all, {1}}, {"550", O::failed, {2}},    {"refused", O::all, {2}},
        {"backup", O::all, {3}}, {today, O::all, {3, 2, 1}}, {"ops", O::all, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(history_.ids({row.text, row.outcomes}), row.ids);
    }
}

// The rows up to the newest one shown, newest first; the whole message, quoted.
TEST_F(HistoryRows, ExportsCsv) {
    EXPECT_EQ(
        history_.csv({"e", HistoryFilter::Outcomes::all}, 2),
        "time,program,name,pager_id,message,parts,server,port,tls,login_id,outcome,reply\r\n" +
            history_.row(2)->time +
            ",cli,,5550000,100% sure_thing,1,pager.example.org,444,1,ops,refused,550 "
            "Invalid pager ID\r\n" +
            ann_.time +
            ",window,Ann,1234,\"Disk full\r\nsecond \"\"line\"\"\",1,pager.example.org,444,0,,"
            "accepted,250 Message Sent\r\n");
    EXPECT_THAT(ann_.time, ::testing::MatchesRegex("20..-..-..T..:..:..\\....Z"));
}

} // namespace
} // namespace dazoroz::store
