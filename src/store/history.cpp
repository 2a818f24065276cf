#include "history.h"

#include "store/sqlite_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

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

// The library's functions; loaded by the first History, which cannot be made without them.
const SqliteTable& sq() noexcept {
    return *sqliteLibrary();
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

// Days since 1970-01-01 of a date, and the date of such a day (proleptic Gregorian calendar).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    using namespace std::chrono;
    return sys_days{year{static_cast<int>(y)} / month{m} / day{d}}.time_since_epoch().count();
}

// local_time(utc): "2024-05-01T12:34:56.789Z" as "2024-05-01 14:34:56" in the local time
// zone; anything else as it is. The filter reads every row's local time, so the text is taken
// apart and put together by hand, and the zone's offset looked up once per quarter of an hour of
// UTC, which the rows of a query share in long runs.
void localTime(sqlite3_context* context, int /*count*/, sqlite3_value** values) {
    const auto* text = reinterpret_cast<const char*>(sq().sqlite3_value_text(values[0]));
    const int size = sq().sqlite3_value_bytes(values[0]);
    const auto number = [text](int at, int digits) {
        int n = 0;
        for (int i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return -1;
            n = n * 10 + (text[i] - '0');
        }
        return n;
    };
    const std::array<int, 6> parts = {size >= 19 ? number(0, 4) : -1,
                                      number(5, 2),
                                      number(8, 2),
                                      number(11, 2),
                                      number(14, 2),
                                      number(17, 2)};
    if (std::ranges::any_of(parts, [](int n) { return n < 0; }) || parts[1] < 1 || parts[1] > 12 ||
        parts[2] < 1 || parts[2] > 31) {
        sq().sqlite3_result_value(context, values[0]);
        return;
    }
    const std::int64_t utc =
        daysFromCivil(parts[0], static_cast<unsigned>(parts[1]), static_cast<unsigned>(parts[2])) *
            86400 +
        parts[3] * 3600 + parts[4] * 60 + parts[5];
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
    const auto second = static_cast<int>(shifted - days * 86400);
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
    char out[20] = "0000-00-00 00:00:00";
    const auto put = [&out](int at, int digits, int value) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            out[i] = static_cast<char>('0' + value % 10);
    };
    put(0, 4, static_cast<int>(date.year()));
    put(5, 2, static_cast<int>(static_cast<unsigned>(date.month())));
    put(8, 2, static_cast<int>(static_cast<unsigned>(date.day())));
    put(11, 2, second / 3600);
    put(14, 2, second / 60 % 60);
    put(17, 2, second % 60);
    sq().sqlite3_result_text(context, out, 19, SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = sq().sqlite3_column_text(statement, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sq().sqlite3_column_bytes(statement, column)))
               : std::string();
}

Outcome outcomeFromName(std::string_view name) {
    for (const Outcome o : kOutcomes)
        if (name == outcomeName(o))
            return o;
    return Outcome::unknown;
}

void bindText(sqlite3_stmt* statement, int at, const std::string& text) {
    sq().sqlite3_bind_text(statement, at, text.data(), static_cast<int>(text.size()),
                           SQLITE_STATIC);
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
    if (sqliteLibrary() == nullptr)
        fail("the SQLite library (libsqlite3-0) cannot be loaded");
    // Once, before SQLite starts: no page cache and no small-allocation pool made up front. A
    // send needs a few pages of memory, and every page first touched costs a fault (on a
    // virtual machine, tens of microseconds).
    static const bool configured = [] {
        sq().sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
        sq().sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
        return true;
    }();
    (void)configured;
    if (sq().sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                             nullptr) != SQLITE_OK) {
        const std::string error = db_ != nullptr ? sq().sqlite3_errmsg(db_) : "out of memory";
        sq().sqlite3_close(db_);
        fail("cannot open " + file.string() + ": " + error);
    }
    try {
        sq().sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        // The log is copied into the database by makeDurable now and then, not at every close
        // nor in the middle of a send: each copy costs two syncs, more than a page takes.
        sq().sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sq().sqlite3_wal_hook(
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
        const int found = sq().sqlite3_column_int(version, 0);
        sq().sqlite3_finalize(version);
        if (found > kSchemaVersion)
            fail(file.string() + " was written by a newer version of Dazoroz");
        if (found < kSchemaVersion) {
            exec("BEGIN IMMEDIATE", "making its table");
            exec(kSchema, "making its table");
            exec("COMMIT", "making its table");
        }
        check(sq().sqlite3_create_function(db_, "local_time", 1, SQLITE_UTF8, nullptr, &localTime,
                                           nullptr, nullptr),
              "opening it");
        insert_ = prepare("INSERT INTO pages (program, name, pager_id, message, parts, server, "
                          "port, tls, login_id, outcome, reply) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                          "?, ?, ?) RETURNING id, time");
        update_ = prepare("UPDATE pages SET parts = ?, server = ?, port = ?, tls = ?, outcome = "
                          "?, reply = ? WHERE id = ?");
    } catch (...) {
        sq().sqlite3_finalize(insert_);
        sq().sqlite3_finalize(update_);
        sq().sqlite3_close_v2(db_);
        throw;
    }
}

History::~History() {
    sq().sqlite3_finalize(insert_);
    sq().sqlite3_finalize(update_);
    sq().sqlite3_finalize(row_);
    sq().sqlite3_close_v2(db_);
}

void History::check(int code, const char* doing) {
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE)
        return;
    const int primary = code & 0xff;
    if (primary == SQLITE_NOTADB)
        fail(file_.string() + " is not a history database (it is left as it is)");
    if (primary == SQLITE_CORRUPT)
        fail(file_.string() + " is damaged (it is left as it is)");
    fail(file_.string() + ", " + doing + ": " + sq().sqlite3_errstr(code) + " (" +
         sq().sqlite3_errmsg(db_) + ")");
}

sqlite3_stmt* History::prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    check(sq().sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr), "reading it");
    return statement;
}

void History::exec(const char* sql, const char* doing) {
    const int code = sq().sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK && sq().sqlite3_get_autocommit(db_) == 0)
        sq().sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    check(code, doing);
}

void History::step(sqlite3_stmt* statement, const char* doing) {
    const int code = sq().sqlite3_step(statement);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        sq().sqlite3_reset(statement);
        check(code, doing);
    }
}

void History::insert(PageRow& row) {
    const std::string outcome = outcomeName(row.outcome);
    bindText(insert_, 1, row.program);
    bindText(insert_, 2, row.name);
    bindText(insert_, 3, row.pagerID);
    bindText(insert_, 4, row.message);
    sq().sqlite3_bind_int(insert_, 5, row.parts);
    bindText(insert_, 6, row.server);
    sq().sqlite3_bind_int(insert_, 7, row.port);
    sq().sqlite3_bind_int(insert_, 8, row.tls ? 1 : 0);
    bindText(insert_, 9, row.loginID);
    bindText(insert_, 10, outcome);
    bindText(insert_, 11, row.reply);
    step(insert_, "adding a row");
    row.id = sq().sqlite3_column_int64(insert_, 0);
    row.time = columnText(insert_, 1);
    int code = SQLITE_ROW;
    while (code == SQLITE_ROW)
        code = sq().sqlite3_step(insert_); // the commit
    sq().sqlite3_reset(insert_);
    check(code, "adding a row");
}

void History::update(const PageRow& row) {
    const std::string outcome = outcomeName(row.outcome);
    sq().sqlite3_bind_int(update_, 1, row.parts);
    bindText(update_, 2, row.server);
    sq().sqlite3_bind_int(update_, 3, row.port);
    sq().sqlite3_bind_int(update_, 4, row.tls ? 1 : 0);
    bindText(update_, 5, outcome);
    bindText(update_, 6, row.reply);
    sq().sqlite3_bind_int64(update_, 7, row.id);
    step(update_, "updating a row");
    sq().sqlite3_reset(update_);
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
        // Emptied, not only copied: what was copied is forgotten when the last process closes,
        // and the next one would read the whole log again, and write after it. Durable
        // already: a checkpoint that other processes keep from finishing waits for a later send.
        sq().sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        logFrames_ = 0;
    }
}

std::vector<std::int64_t> History::ids(const HistoryFilter& filter) {
    sqlite3_stmt* statement = select("id", filter, std::numeric_limits<std::int64_t>::max());
    std::vector<std::int64_t> ids;
    int code = SQLITE_ROW;
    while ((code = sq().sqlite3_step(statement)) == SQLITE_ROW)
        ids.push_back(sq().sqlite3_column_int64(statement, 0));
    sq().sqlite3_finalize(statement);
    check(code, "reading it");
    return ids;
}

sqlite3_stmt* History::select(const char* columns, const HistoryFilter& filter,
                              std::int64_t newest) {
    std::string sql = std::string("SELECT ") + columns + " FROM pages WHERE id <= ?1";
    if (filter.outcomes == HistoryFilter::Outcomes::failed)
        sql += " AND outcome <> 'accepted'";
    else if (filter.outcomes == HistoryFilter::Outcomes::accepted)
        sql += " AND outcome = 'accepted'";
    if (!filter.text.empty()) {
        sql += " AND (name LIKE ?2 ESCAPE '\\' OR pager_id LIKE ?2 ESCAPE '\\' OR message LIKE ?2 "
               "ESCAPE '\\' OR server LIKE ?2 ESCAPE '\\' OR outcome LIKE ?2 ESCAPE '\\' OR reply "
               "LIKE ?2 ESCAPE '\\'";
        // The local time, which costs the most, only for text that may be part of one.
        if (filter.text.find_first_not_of("0123456789-: ") == std::string::npos)
            sql += " OR local_time(time) LIKE ?2 ESCAPE '\\'";
        sql += ")";
    }
    sql += " ORDER BY id DESC";
    sqlite3_stmt* statement = prepare(sql.c_str());
    sq().sqlite3_bind_int64(statement, 1, newest);
    if (!filter.text.empty()) {
        const std::string pattern = containsPattern(filter.text);
        sq().sqlite3_bind_text(statement, 2, pattern.data(), static_cast<int>(pattern.size()),
                               SQLITE_TRANSIENT);
    }
    return statement;
}

std::optional<PageRow> History::row(std::int64_t id) {
    if (row_ == nullptr) // only the window reads rows
        row_ = prepare((std::string("SELECT ") + kColumns + " FROM pages WHERE id = ?").c_str());
    sq().sqlite3_bind_int64(row_, 1, id);
    const int code = sq().sqlite3_step(row_);
    if (code != SQLITE_ROW) {
        sq().sqlite3_reset(row_);
        check(code, "reading it");
        return std::nullopt;
    }
    PageRow row;
    row.id = sq().sqlite3_column_int64(row_, 0);
    row.time = columnText(row_, 1);
    row.localTime = columnText(row_, 2);
    row.program = columnText(row_, 3);
    row.name = columnText(row_, 4);
    row.pagerID = columnText(row_, 5);
    row.message = columnText(row_, 6);
    row.parts = sq().sqlite3_column_int(row_, 7);
    row.server = columnText(row_, 8);
    row.port = sq().sqlite3_column_int(row_, 9);
    row.tls = sq().sqlite3_column_int(row_, 10) != 0;
    row.loginID = columnText(row_, 11);
    row.outcome = outcomeFromName(columnText(row_, 12));
    row.reply = columnText(row_, 13);
    sq().sqlite3_reset(row_);
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

std::string History::csv(const HistoryFilter& filter, std::int64_t newest) {
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
    sqlite3_stmt* statement = select(
        "time, program, name, pager_id, message, parts, server, port, tls, login_id, outcome, "
        "reply",
        filter, newest);
    int code = SQLITE_ROW;
    std::array<std::string_view, kCsvHeader.size()> fields;
    while ((code = sq().sqlite3_step(statement)) == SQLITE_ROW) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const int column = static_cast<int>(i);
            const auto* text = sq().sqlite3_column_text(statement, column);
            fields[i] = text == nullptr
                            ? std::string_view()
                            : std::string_view(reinterpret_cast<const char*>(text),
                                               static_cast<std::size_t>(
                                                   sq().sqlite3_column_bytes(statement, column)));
        }
        record(fields);
    }
    sq().sqlite3_finalize(statement);
    check(code, "reading it");
    return out;
}

void History::clear() {
    // Deleted text is overwritten, not left in free pages; the log that held it is emptied when
    // no other process is reading it.
    exec("PRAGMA secure_delete = ON", "clearing it");
    exec("DELETE FROM pages", "clearing it");
    sq().sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

} // namespace dazoroz::store
