#pragma once

// SQLite as the history uses it: libsqlite3.so.0 loaded at run time, when a history is first
// opened, and called only through this table of its functions. A program that keeps no history
// (dazoroz-send without --history, as by default) neither loads nor relocates the library: that
// would cost every start of dazoroz-send a good part of what a page takes.

#include <sqlite3.h>

namespace dazoroz::store {

// Every function of the table, under its own name.
#define DAZOROZ_SQLITE_FUNCTIONS(X)                                                                \
    X(sqlite3_bind_int)                                                                            \
    X(sqlite3_bind_int64)                                                                          \
    X(sqlite3_bind_text)                                                                           \
    X(sqlite3_busy_timeout)                                                                        \
    X(sqlite3_close)                                                                               \
    X(sqlite3_close_v2)                                                                            \
    X(sqlite3_column_bytes)                                                                        \
    X(sqlite3_column_int)                                                                          \
    X(sqlite3_column_int64)                                                                        \
    X(sqlite3_column_text)                                                                         \
    X(sqlite3_config)                                                                              \
    X(sqlite3_create_function)                                                                     \
    X(sqlite3_db_config)                                                                           \
    X(sqlite3_errmsg)                                                                              \
    X(sqlite3_errstr)                                                                              \
    X(sqlite3_exec)                                                                                \
    X(sqlite3_finalize)                                                                            \
    X(sqlite3_get_autocommit)                                                                      \
    X(sqlite3_open_v2)                                                                             \
    X(sqlite3_prepare_v2)                                                                          \
    X(sqlite3_reset)                                                                               \
    X(sqlite3_result_text)                                                                         \
    X(sqlite3_result_value)                                                                        \
    X(sqlite3_step)                                                                                \
    X(sqlite3_value_bytes)                                                                         \
    X(sqlite3_value_text)                                                                          \
    X(sqlite3_wal_checkpoint_v2)                                                                   \
    X(sqlite3_wal_hook)

struct SqliteTable {
#define DAZOROZ_SQLITE_SLOT(name) decltype(&::name) name = nullptr;
    DAZOROZ_SQLITE_FUNCTIONS(DAZOROZ_SQLITE_SLOT)
#undef DAZOROZ_SQLITE_SLOT
};

// The table, loading the library on the first call; nullptr when it cannot be loaded or lacks a
// function (then it is not tried again).
const SqliteTable* sqliteLibrary() noexcept;

} // namespace dazoroz::store
