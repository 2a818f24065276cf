#pragma once

#include "net/socket_api.h"

#include <cstddef>
#include <cstdint>

namespace dazoroz::net {

// A loadable socket library ("module"): answers the address of a function by its ordinal,
// or nullptr when it has no function under that ordinal.
using AnyProc = void (*)();
struct SocketModule {
    const char* path; // the name it is loaded by, compared without regard to letter case
    AnyProc (*procByOrdinal)(int ordinal);
};

// The process-wide use of the socket library. Initialised before main: description empty,
// status "Down", path "WSOCK32.DLL", load count 0, every slot of the table holding its stub.
struct SocketLibrary {
    WsaData startup;
    char libraryPath[201];
    const SocketModule* module; // none while not loaded
    std::uint16_t loadCount;
    SocketEntryTable table;
};

SocketLibrary& socketLibrary() noexcept;

// The entry table: every socket call of the engine goes through it.
inline const SocketEntryTable& ws() noexcept {
    return socketLibrary().table;
}

// Takes a reference on the library, loading it on the first. Returns false when the library
// cannot be used; the reason is then the description text ("Could not load Winsock DLL.",
// "Version not supported.", "Network subsystem not ready.", "Incompatible Winsock version.").
bool takeLibraryReference() noexcept;
// Gives a reference back; the last one puts the stubs back and the status text to "Down".
void releaseLibraryReference() noexcept;

// The library the next first reference loads (at most 200 characters are kept).
void setLibraryPath(const char* path) noexcept;
inline constexpr const char* kDefaultLibraryPath = "WSOCK32.DLL";

// Makes another module loadable by its path (tests use it for libraries that misbehave).
// The module must outlive every use; registering a path again replaces the earlier module.
void registerSocketModule(const SocketModule& module);

// The built-in module over the POSIX socket API, loaded as "WSOCK32.DLL".
AnyProc posixSocketProc(int ordinal) noexcept;
// How many sockets of the built-in module are open (tests check that none leak).
std::size_t posixOpenSocketCount() noexcept;

} // namespace dazoroz::net
