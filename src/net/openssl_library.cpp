#include "net/openssl_library.h"

#include <dlfcn.h>

namespace dazoroz::net {

namespace {

// The soname of Debian's libssl3; its functions and those of libcrypto.so.3, which it needs, are
// found through its handle. Never unloaded: OpenSSL keeps state to the end of the process.
constexpr const char* kLibrary = "libssl.so.3";

bool load(OpenSslTable& table) noexcept {
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    bool complete = true;
#define DAZOROZ_OPENSSL_RESOLVE(name)                                                              \
    table.name = reinterpret_cast<decltype(table.name)>(::dlsym(library, #name));                  \
    complete = complete && table.name != nullptr;
    DAZOROZ_OPENSSL_FUNCTIONS(DAZOROZ_OPENSSL_RESOLVE)
#undef DAZOROZ_OPENSSL_RESOLVE
    return complete;
}

} // namespace

const OpenSslTable* openSsl() noexcept {
    static OpenSslTable table;
    static const bool loaded = load(table);
    return loaded ? &table : nullptr;
}

} // namespace dazoroz::net
