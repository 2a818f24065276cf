#pragma once

// The history of sent pages: one row per recipient and send in an SQLite database that the
// window and any number of dazoroz-send processes write at the same time (WAL mode, a busy
// time-out). The schema is the README's; user_version tells its version.

#include "store/page_outcome.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace dazoroz::store {

struct PageRow {
    std::int64_t id = 0;
    std::string time;      // UTC, "2024-05-01T12:34:56.789Z"; set by the database
    std::string localTime; // read only: "2024-05-01 14:34:56" in the local time zone
    std::string program;   // "window" or "cli"
    std::string name;      // from the names list; empty for a typed pager ID
    std::string pagerID;
    std::string message; // whole, line breaks as they were sent
    int parts = 1;
    std::string server;
    int port = 0;
    bool tls = false;
    std::string loginID; // never the password
    Outcome outcome = Outcome::unknown;
    std::string reply; // the reply line (or the error) that decided the outcome
};

// Which rows a query gives: those holding `text` in a shown column (local time, name, pager
// ID, message, server, outcome, reply; letters A to Z in either case), of the chosen outcomes.
struct HistoryFilter {
    enum class Outcomes { all, failed, accepted }; // failed: every outcome but accepted
    std::string text;
    Outcomes outcomes = Outcomes::all;
};

// Why the history could not be opened, read or written; what() says it for the user.
class HistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// $XDG_STATE_HOME/dazoroz/history.sqlite, or ~/.local/state/dazoroz/history.sqlite when
// XDG_STATE_HOME is unset or not absolute; empty when neither gives a folder.
std::filesystem::path historyFilePath();

class History {
public:
    enum class Mode { create, existing };

    // Opens the database; with Mode::create, makes it and its folders (0700, the file 0600)
    // when missing. Refuses a symbolic link, a file or folder of another user, a folder others
    // may write, a file that is not such a database (which is left as it is) and one of a newer
    // schema. Throws HistoryError; with Mode::existing also when there is no file.
    explicit History(const std::filesystem::path& file, Mode mode = Mode::create);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Adds a row, committed at once; sets its id and time.
    void insert(PageRow& row);
    // Writes the row's parts, server, port, TLS, outcome and reply, committed at once.
    void update(const PageRow& row);
    // Writes from begin() to commit() are committed together.
    void begin();
    void commit();
    // Makes every commit so far survive a power loss: one sync of the write-ahead log. A long
    // log is then copied into the database and emptied.
    void makeDurable();

    // The ids of the matching rows, newest first.
    std::vector<std::int64_t> ids(const HistoryFilter& filter);
    std::optional<PageRow> row(std::int64_t id);
    // The matching rows up to the id `newest`, newest first, as CSV (RFC 4180): a header row of
    // the column names, then one record per row, CR LF after each.
    std::string csv(const HistoryFilter& filter, std::int64_t newest);
    // Deletes every row, its text overwritten in the file.
    void clear();

private:
    sqlite3_stmt* prepare(const char* sql);
    // The matching rows' columns, up to the id `newest`, newest first.
    sqlite3_stmt* select(const char* columns, const HistoryFilter& filter, std::int64_t newest);
    void check(int code, const char* doing);
    void exec(const char* sql, const char* doing);
    void step(sqlite3_stmt* statement, const char* doing);

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* update_ = nullptr;
    sqlite3_stmt* row_ = nullptr;
    int logFrames_ = 0; // in the write-ahead log after the last commit
};

// Appends one CSV field, quoted when it holds a comma, a quote, CR or LF.
void appendCsvField(std::string& out, std::string_view field);

} // namespace dazoroz::store
