#include "store/sqlite_library.h"

#include <dlfcn.h>

namespace dazoroz::store {

namespace {

// The soname of Debian's libsqlite3-0. Never unloaded: SQLite keeps state to the end of the
// process.
constexpr const char* kLibrary = "libsqlite3.so.0";

bool load(SqliteTable& table) noexcept {
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    bool complete = true;
#define DAZOROZ_SQLITE_RESOLVE(name)                                                               \
    table.name = reinterpret_cast<decltype(table.name)>(::dlsym(library, #name));                  \
    complete = complete && table.name != nullptr;
    DAZOROZ_SQLITE_FUNCTIONS(DAZOROZ_SQLITE_RESOLVE)
#undef DAZOROZ_SQLITE_RESOLVE
    return complete;
}

} // namespace

const SqliteTable* sqliteLibrary() noexcept {
    static SqliteTable table;
    static const bool loaded = load(table);
    return loaded ? &table : nullptr;
}

} // namespace dazoroz::store
