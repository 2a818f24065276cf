// The history database: the places it refuses, and which rows its filter and CSV give.
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

struct PlaceRow {
    std::string name;
    void (*prepare)(const fs::path& dir, const fs::path& file);
    std::string error; // part of the error; empty: it opens, folder 0700 and file 0600
};

using P = const fs::path&;
const PlaceRow kPlaces[] = {
    {"Fresh", [](P, P) {}, {}},
    {"OpenToOthers",
     [](P dir, P file) {
         fs::create_directories(dir), fs::permissions(dir, fs::perms::owner_all);
         writeFile(file, ""), fs::permissions(file, fs::perms::all);
     },
     {}},
    {"FileIsALink",
     [](P dir, P file) { fs::create_directories(dir), fs::create_symlink(dir / "x", file); },
     "history.sqlite is a symbolic link"},
    {"FolderIsALink",
     [](P dir, P) { fs::create_directory_symlink(dir.parent_path().parent_path(), dir); },
     "dazoroz is a symbolic link"},
    {"FolderOthersMayWrite",
     [](P dir, P) { fs::create_directories(dir), fs::permissions(dir, fs::perms::all); },
     "other users may write in the folder"},
    {"NewerSchema",
     [](P, P file) {
         History{file};
         sqlite3* db = nullptr;
         sqlite3_open(file.c_str(), &db);
         sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
         sqlite3_close(db);
     },
     "written by a newer version of Dazoroz"},
};

class HistoryPlace : public ::testing::TestWithParam<PlaceRow> {};

TEST_P(HistoryPlace, OpensOnlyAPrivatePlace) {
    const PlaceRow& row = GetParam();
    const fs::path dir = freshTestDirectory() / "state/dazoroz";
    const fs::path file = dir / "history.sqlite";
    fs::create_directories(dir.parent_path());
    row.prepare(dir, file);
    const std::string before = readFile(file);
    try {
        History history(file);
        EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(row.error, "");
    } catch (const HistoryError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr(row.error.empty() ? "<none>" : row.error));
        EXPECT_EQ(readFile(file), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, HistoryPlace, ::testing::ValuesIn(kPlaces),
                         [](const auto& row) { return row.param.name; });

TEST(HistoryRows, FilterAndExport) {
    History history(freshTestDirectory() / "dazoroz/history.sqlite");
    PageRow ann{0, {},      {},  "window", "Ann", "1234",           "Disk full\r\nsecond \"line\"",
                1, "pager", 444, false,    "",    Outcome::unknown, ""};
    PageRow typed{0, {},      {},  "cli", "",    "5550000",        "100% sure_thing",
                  1, "pager", 444, true,  "ops", Outcome::refused, "550 Invalid pager ID"};
    PageRow bob{0, {}, {}, "cli", "Bob", "555", "call", 2, "backup", 2444, false, "", {}, ""};
    for (PageRow* row : {&ann, &typed, &bob})
        history.insert(*row);
    ann.outcome = Outcome::accepted;
    ann.reply = "250 Message Sent";
    history.update(ann);
    history.makeDurable();

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
    for (const auto& row : rows)
        EXPECT_EQ(history.ids({row.text, row.outcomes}), row.ids) << row.text;
    // Up to the newest row shown, newest first.
    EXPECT_EQ(
        history.csv({"e", O::all}, 2),
        "time,program,name,pager_id,message,parts,server,port,tls,login_id,outcome,reply\r\n" +
            typed.time +
            ",cli,,5550000,100% sure_thing,1,pager,444,1,ops,refused,550 Invalid "
            "pager ID\r\n" +
            ann.time +
            ",window,Ann,1234,\"Disk full\r\nsecond \"\"line\"\"\",1,pager,444,0,,accepted,"
            "250 Message Sent\r\n");
    EXPECT_THAT(ann.time, ::testing::MatchesRegex("20..-..-..T..:..:..\\....Z"));
}

} // namespace
} // namespace dazoroz::store
