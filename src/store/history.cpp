#include "history.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace dazoroz::store {

namespace fs = std::filesystem;

namespace {

constexpr int kSchemaVersion = 1;
// How long a write waits for another process's write to end. Writes hold the lock for a
// moment only; a process that holds it longer costs one send this wait once, as the record
// stops at its first failure.
constexpr int kBusyTimeoutMs = 2000;
// The log is copied into the database at the end of a send that leaves it this long (in pages):
// every process that opens the database reads the whole log first, and the copy costs two syncs.
constexpr int kCheckpointFrames = 128;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS pages (
    id       INTEGER PRIMARY KEY,
    time     TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),
    program  TEXT NOT NULL,
    name     TEXT NOT NULL,
    pager_id TEXT NOT NULL,
    message  TEXT NOT NULL,
    parts    INTEGER NOT NULL,
    server   TEXT NOT NULL,
    port     INTEGER NOT NULL,
    tls      INTEGER NOT NULL,
    login_id TEXT NOT NULL,
    outcome  TEXT NOT NULL,
    reply    TEXT NOT NULL
);
PRAGMA user_version = 1;
)";

constexpr const char* kColumns = "id, time, local_time(time), program, name, pager_id, message, "
                                 "parts, server, port, tls, login_id, outcome, reply";
constexpr std::array<const char*, 12> kCsvHeader = {"time",    "program",  "name",    "pager_id",
                                                    "message", "parts",    "server",  "port",
                                                    "tls",     "login_id", "outcome", "reply"};

constexpr std::array<Outcome, 5> kOutcomes = {Outcome::unknown, Outcome::accepted, Outcome::refused,
                                              Outcome::failed, Outcome::cancelled};

[[noreturn]] void fail(const std::string& what) {
    throw HistoryError(what);
}

std::string withErrno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Makes every missing folder of `dir`, each 0700.
void makeFolders(const fs::path& dir) {
    fs::path path;
    for (const fs::path& part : dir) {
        path /= part;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            fail(withErrno("cannot make the folder " + path.string()));
    }
}

// The history's own folder: a real folder (no link to one), the user's, and nobody else may
// write in it, so that nobody can put a link in place of the file.
void checkFolder(const fs::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        fail(withErrno("cannot use the folder " + dir.string()));
    if (S_ISLNK(st.st_mode))
        fail("the folder " + dir.string() + " is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        fail(dir.string() + " is not a folder");
    if (st.st_uid != ::geteuid())
        fail("the folder " + dir.string() + " belongs to another user");
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        fail("other users may write in the folder " + dir.string());
}

// The file itself: a regular file of the user's, readable by nobody else. With `create`, a
// missing one is made empty (SQLite then writes the schema into it).
void checkFile(const fs::path& file, bool create) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        if (errno != ENOENT || !create)
            fail(withErrno("cannot use " + file.string()));
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd < 0 && errno != EEXIST) // another process may just have made it
            fail(withErrno("cannot make " + file.string()));
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        if (::lstat(file.c_str(), &st) != 0)
            fail(withErrno("cannot use " + file.string()));
    }
    if (S_ISLNK(st.st_mode))
        fail(file.string() + " is a symbolic link");
    if (!S_ISREG(st.st_mode))
        fail(file.string() + " is not a regular file");
    if (st.st_uid != ::geteuid())
        fail(file.string() + " belongs to another user");
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::chmod(file.c_str(), S_IRUSR | S_IWUSR) != 0)
        fail(withErrno("cannot make " + file.string() + " private"));
}

// local_time(utc): "2024-05-01T12:34:56.789Z" as "2024-05-01 14:34:56" in the local time
// zone. The zone's offset is looked up once per quarter of an hour of UTC, which the rows of a
// query share in long runs: the filter reads every row's local time.
void localTime(sqlite3_context* context, int /*count*/, sqlite3_value** values) {
    using namespace std::chrono;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (text == nullptr ||
        std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) {
        sqlite3_result_value(context, values[0]);
        return;
    }
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    const std::int64_t utc =
        sys_days{date}.time_since_epoch().count() * 86400LL + h * 3600LL + mi * 60LL + s;
    static thread_local std::int64_t cachedBlock = -1;
    static thread_local long cachedOffset = 0;
    if (utc / 900 != cachedBlock) {
        const auto t = static_cast<std::time_t>(utc);
        std::tm local{};
        cachedOffset = ::localtime_r(&t, &local) != nullptr ? local.tm_gmtoff : 0;
        cachedBlock = utc / 900;
    }
    const std::int64_t shifted = utc + cachedOffset;
    const std::int64_t days = (shifted >= 0 ? shifted : shifted - 86399) / 86400;
    const std::int64_t second = shifted - days * 86400;
    const year_month_day local{sys_days{std::chrono::days{days}}};
    char out[32];
    const int n = std::snprintf(
        out, sizeof out, "%04d-%02u-%02u %02lld:%02lld:%02lld", static_cast<int>(local.year()),
        unsigned{local.month()}, unsigned{local.day()}, static_cast<long long>(second / 3600),
        static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60));
    sqlite3_result_text(context, out, n, SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
               : std::string();
}

Outcome outcomeFromName(std::string_view name) {
    for (const Outcome o : kOutcomes)
        if (name == outcomeName(o))
            return o;
    return Outcome::unknown;
}

void bindText(sqlite3_stmt* statement, int at, const std::string& text) {
    sqlite3_bind_text(statement, at, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// A LIKE pattern for text anywhere in a value, with \ as the escape character.
std::string containsPattern(std::string_view text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

} // namespace

fs::path historyFilePath() {
    fs::path state = environment("XDG_STATE_HOME");
    if (!state.is_absolute()) {
        const fs::path home = environment("HOME");
        state = home.is_absolute() ? home / ".local/state" : fs::path();
    }
    return state.empty() ? state : state / "dazoroz" / "history.sqlite";
}

History::History(const fs::path& file, Mode mode) : file_(file) {
    if (file.empty())
        fail("there is no folder for it (neither XDG_STATE_HOME nor HOME is set)");
    const fs::path dir = file.parent_path();
    if (mode == Mode::create)
        makeFolders(dir);
    checkFolder(dir);
    checkFile(file, mode == Mode::create);
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        const std::string error = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        fail("cannot open " + file.string() + ": " + error);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        // The log is copied into the database by makeDurable now and then, not at every close
        // nor in the middle of a send: each copy costs two syncs, more than a page takes.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        // Its own small allocator would take memory that a few statements never need: every
        // page of memory first touched costs a fault.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_LOOKASIDE, nullptr, 0, 0);
        sqlite3_wal_hook(
            db_,
            [](void* self, sqlite3*, const char*, int frames) {
                static_cast<History*>(self)->logFrames_ = frames;
                return SQLITE_OK;
            },
            this);
        // Reading the header first: a file that is no database is never written.
        exec("PRAGMA journal_mode = WAL", "opening it");
        exec("PRAGMA synchronous = NORMAL", "opening it");
        sqlite3_stmt* version = prepare("PRAGMA user_version");
        step(version, "opening it");
        const int found = sqlite3_column_int(version, 0);
        sqlite3_finalize(version);
        if (found > kSchemaVersion)
            fail(file.string() + " was written by a newer version of Dazoroz");
        if (found < kSchemaVersion) {
            exec("BEGIN IMMEDIATE", "making its table");
            exec(kSchema, "making its table");
            exec("COMMIT", "making its table");
        }
        check(sqlite3_create_function(db_, "local_time", 1, SQLITE_UTF8, nullptr, &localTime,
                                      nullptr, nullptr),
              "opening it");
        insert_ = prepare("INSERT INTO pages (program, name, pager_id, message, parts, server, "
                          "port, tls, login_id, outcome, reply) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                          "?, ?, ?) RETURNING id, time");
        update_ = prepare("UPDATE pages SET parts = ?, server = ?, port = ?, tls = ?, outcome = "
                          "?, reply = ? WHERE id = ?");
    } catch (...) {
        sqlite3_finalize(insert_);
        sqlite3_finalize(update_);
        sqlite3_close_v2(db_);
        throw;
    }
}

History::~History() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(update_);
    sqlite3_finalize(row_);
    sqlite3_close_v2(db_);
}

void History::check(int code, const char* doing) {
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE)
        return;
    const int primary = code & 0xff;
    if (primary == SQLITE_NOTADB)
        fail(file_.string() + " is not a history database (it is left as it is)");
    if (primary == SQLITE_CORRUPT)
        fail(file_.string() + " is damaged (it is left as it is)");
    fail(file_.string() + ", " + doing + ": " + sqlite3_errstr(code) + " (" + sqlite3_errmsg(db_) +
         ")");
}

sqlite3_stmt* History::prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr), "reading it");
    return statement;
}

void History::exec(const char* sql, const char* doing) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK && sqlite3_get_autocommit(db_) == 0)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    check(code, doing);
}

void History::step(sqlite3_stmt* statement, const char* doing) {
    const int code = sqlite3_step(statement);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        sqlite3_reset(statement);
        check(code, doing);
    }
}

void History::insert(PageRow& row) {
    const std::string outcome = outcomeName(row.outcome);
    bindText(insert_, 1, row.program);
    bindText(insert_, 2, row.name);
    bindText(insert_, 3, row.pagerID);
    bindText(insert_, 4, row.message);
    sqlite3_bind_int(insert_, 5, row.parts);
    bindText(insert_, 6, row.server);
    sqlite3_bind_int(insert_, 7, row.port);
    sqlite3_bind_int(insert_, 8, row.tls ? 1 : 0);
    bindText(insert_, 9, row.loginID);
    bindText(insert_, 10, outcome);
    bindText(insert_, 11, row.reply);
    step(insert_, "adding a row");
    row.id = sqlite3_column_int64(insert_, 0);
    row.time = columnText(insert_, 1);
    int code = SQLITE_ROW;
    while (code == SQLITE_ROW)
        code = sqlite3_step(insert_); // the commit
    sqlite3_reset(insert_);
    check(code, "adding a row");
}

void History::update(const PageRow& row) {
    const std::string outcome = outcomeName(row.outcome);
    sqlite3_bind_int(update_, 1, row.parts);
    bindText(update_, 2, row.server);
    sqlite3_bind_int(update_, 3, row.port);
    sqlite3_bind_int(update_, 4, row.tls ? 1 : 0);
    bindText(update_, 5, outcome);
    bindText(update_, 6, row.reply);
    sqlite3_bind_int64(update_, 7, row.id);
    step(update_, "updating a row");
    sqlite3_reset(update_);
}

void History::begin() {
    exec("BEGIN IMMEDIATE", "writing it");
}

void History::commit() {
    exec("COMMIT", "writing it");
}

void History::makeDurable() {
    // The log holds every commit: syncing it is what a commit in synchronous=FULL would do.
    // Synced here, not through SQLite, which would sync its folder as well the first time.
    const std::string log = file_.string() + "-wal";
    const int fd = ::open(log.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) // none: everything is in the database, synced
        fail(withErrno("cannot sync " + log));
    if (fd >= 0) {
        const int synced = ::fdatasync(fd);
        ::close(fd);
        if (synced != 0)
            fail(withErrno("cannot sync " + log));
    }
    if (logFrames_ >= kCheckpointFrames) {
        // Durable already: a checkpoint that other processes keep from finishing waits for
        // the next send.
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        logFrames_ = 0;
    }
}

std::vector<std::int64_t> History::ids(const HistoryFilter& filter) {
    std::string sql = "SELECT id FROM pages WHERE 1";
    if (filter.outcomes == HistoryFilter::Outcomes::failed)
        sql += " AND outcome <> 'accepted'";
    else if (filter.outcomes == HistoryFilter::Outcomes::accepted)
        sql += " AND outcome = 'accepted'";
    if (!filter.text.empty()) {
        sql += " AND (";
        const char* separator = "";
        for (const char* column :
             {"local_time(time)", "name", "pager_id", "message", "server", "outcome", "reply"}) {
            sql += separator;
            sql += column;
            sql += " LIKE ?1 ESCAPE '\\'";
            separator = " OR ";
        }
        sql += ")";
    }
    sql += " ORDER BY id DESC";
    sqlite3_stmt* statement = prepare(sql.c_str());
    const std::string pattern = containsPattern(filter.text);
    if (!filter.text.empty())
        bindText(statement, 1, pattern);
    std::vector<std::int64_t> ids;
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(statement, 0));
    sqlite3_finalize(statement);
    check(code, "reading it");
    return ids;
}

std::optional<PageRow> History::row(std::int64_t id) {
    if (row_ == nullptr) // only the window reads rows
        row_ = prepare((std::string("SELECT ") + kColumns + " FROM pages WHERE id = ?").c_str());
    sqlite3_bind_int64(row_, 1, id);
    const int code = sqlite3_step(row_);
    if (code != SQLITE_ROW) {
        sqlite3_reset(row_);
        check(code, "reading it");
        return std::nullopt;
    }
    PageRow row;
    row.id = sqlite3_column_int64(row_, 0);
    row.time = columnText(row_, 1);
    row.localTime = columnText(row_, 2);
    row.program = columnText(row_, 3);
    row.name = columnText(row_, 4);
    row.pagerID = columnText(row_, 5);
    row.message = columnText(row_, 6);
    row.parts = sqlite3_column_int(row_, 7);
    row.server = columnText(row_, 8);
    row.port = sqlite3_column_int(row_, 9);
    row.tls = sqlite3_column_int(row_, 10) != 0;
    row.loginID = columnText(row_, 11);
    row.outcome = outcomeFromName(columnText(row_, 12));
    row.reply = columnText(row_, 13);
    sqlite3_reset(row_);
    return row;
}

void appendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

std::string History::csv(const std::vector<std::int64_t>& ids) {
    std::string out;
    const auto record = [&out](const auto& fields) {
        const char* separator = "";
        for (const auto& field : fields) {
            out += separator;
            appendCsvField(out, field);
            separator = ",";
        }
        out += "\r\n";
    };
    record(kCsvHeader);
    for (const std::int64_t id : ids) {
        const std::optional<PageRow> r = row(id);
        if (!r)
            continue; // cleared in the meantime
        record(std::array<std::string_view, 12>{r->time, r->program, r->name, r->pagerID,
                                                r->message, std::to_string(r->parts), r->server,
                                                std::to_string(r->port), r->tls ? "1" : "0",
                                                r->loginID, outcomeName(r->outcome), r->reply});
    }
    return out;
}

void History::clear() {
    // Deleted text is overwritten, not left in free pages; the log that held it is emptied when
    // no other process is reading it.
    exec("PRAGMA secure_delete = ON", "clearing it");
    exec("DELETE FROM pages", "clearing it");
    sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

} // namespace dazoroz::store
