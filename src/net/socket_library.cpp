#include "net/socket_library.h"

#include <cstring>
#include <strings.h>
#include <vector>

namespace dazoroz::net {

namespace {

// Stubs: what every slot holds while the library is not loaded. Calls that return a status or a
// socket fail, the others answer 0 or nothing, and the last error reads "not initialised".
namespace stub {
Socket accept(Socket, sockaddr*, int*) {
    return kInvalidSocket;
}
int bind(Socket, const sockaddr*, int) {
    return kSocketError;
}
int closesocket(Socket) {
    return kSocketError;
}
int connect(Socket, const sockaddr*, int) {
    return kSocketError;
}
int getpeername(Socket, sockaddr*, int*) {
    return kSocketError;
}
int getsockname(Socket, sockaddr*, int*) {
    return kSocketError;
}
int getsockopt(Socket, int, int, char*, int*) {
    return kSocketError;
}
std::uint32_t htonl_(std::uint32_t) {
    return 0;
}
std::uint16_t htons_(std::uint16_t) {
    return 0;
}
std::uint32_t inet_addr(const char*) {
    return kNoAddress;
}
const char* inet_ntoa(in_addr) {
    return nullptr;
}
int ioctlsocket(Socket, long, std::uint32_t*) {
    return kSocketError;
}
int listen(Socket, int) {
    return kSocketError;
}
std::uint32_t ntohl_(std::uint32_t) {
    return 0;
}
std::uint16_t ntohs_(std::uint16_t) {
    return 0;
}
int recv(Socket, char*, int, int) {
    return kSocketError;
}
int recvfrom(Socket, char*, int, int, sockaddr*, int*) {
    return kSocketError;
}
int select(int, WsaFdSet*, WsaFdSet*, WsaFdSet*, const timeval*) {
    return kSocketError;
}
int send(Socket, const char*, int, int) {
    return kSocketError;
}
int sendto(Socket, const char*, int, int, const sockaddr*, int) {
    return kSocketError;
}
int setsockopt(Socket, int, int, const char*, int) {
    return kSocketError;
}
int shutdown(Socket, int) {
    return kSocketError;
}
Socket socket(int, int, int) {
    return kInvalidSocket;
}
WsaHostEnt* gethostbyaddr(const char*, int, int) {
    return nullptr;
}
WsaHostEnt* gethostbyname(const char*) {
    return nullptr;
}
WsaProtoEnt* getprotobyname(const char*) {
    return nullptr;
}
WsaProtoEnt* getprotobynumber(int) {
    return nullptr;
}
WsaServEnt* getservbyname(const char*, const char*) {
    return nullptr;
}
WsaServEnt* getservbyport(int, const char*) {
    return nullptr;
}
int gethostname(char*, int) {
    return kSocketError;
}
int WSAAsyncSelect(Socket, WindowHandle, unsigned, long) {
    return kSocketError;
}
AsyncHandle WSAAsyncGetHostByAddr(WindowHandle, unsigned, const char*, int, int, char*, int) {
    return 0;
}
AsyncHandle WSAAsyncGetHostByName(WindowHandle, unsigned, const char*, char*, int) {
    return 0;
}
AsyncHandle WSAAsyncGetProtoByNumber(WindowHandle, unsigned, int, char*, int) {
    return 0;
}
AsyncHandle WSAAsyncGetProtoByName(WindowHandle, unsigned, const char*, char*, int) {
    return 0;
}
AsyncHandle WSAAsyncGetServByPort(WindowHandle, unsigned, int, const char*, char*, int) {
    return 0;
}
AsyncHandle WSAAsyncGetServByName(WindowHandle, unsigned, const char*, const char*, char*, int) {
    return 0;
}
int WSACancelAsyncRequest(AsyncHandle) {
    return kSocketError;
}
BlockingHook WSASetBlockingHook(BlockingHook) {
    return nullptr;
}
int WSAUnhookBlockingHook() {
    return kSocketError;
}
int WSAGetLastError() {
    return kWsaNotInitialised;
}
void WSASetLastError(int) {}
int WSACancelBlockingCall() {
    return kSocketError;
}
int WSAIsBlocking() {
    return 0;
}
int WSAStartup(std::uint16_t, WsaData*) {
    return kWsaSysNotReady;
}
int WSACleanup() {
    return kSocketError;
}
int WSAFDIsSet(Socket, WsaFdSet*) {
    return 0;
}
int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result) {
    if (result != nullptr) {
        *result = nullptr;
    }
    return kWsaNotInitialised;
}
void freeaddrinfo(addrinfo*) {}
int getnameinfo(const sockaddr*, int, char*, int, char*, int, int) {
    return kWsaNotInitialised;
}
} // namespace stub

constexpr SocketEntryTable kStubTable = {
    stub::accept,
    stub::bind,
    stub::closesocket,
    stub::connect,
    stub::getpeername,
    stub::getsockname,
    stub::getsockopt,
    stub::htonl_,
    stub::htons_,
    stub::inet_addr,
    stub::inet_ntoa,
    stub::ioctlsocket,
    stub::listen,
    stub::ntohl_,
    stub::ntohs_,
    stub::recv,
    stub::recvfrom,
    stub::select,
    stub::send,
    stub::sendto,
    stub::setsockopt,
    stub::shutdown,
    stub::socket,
    stub::gethostbyaddr,
    stub::gethostbyname,
    stub::getprotobyname,
    stub::getprotobynumber,
    stub::getservbyname,
    stub::getservbyport,
    stub::gethostname,
    stub::WSAAsyncSelect,
    stub::WSAAsyncGetHostByAddr,
    stub::WSAAsyncGetHostByName,
    stub::WSAAsyncGetProtoByNumber,
    stub::WSAAsyncGetProtoByName,
    stub::WSAAsyncGetServByPort,
    stub::WSAAsyncGetServByName,
    stub::WSACancelAsyncRequest,
    stub::WSASetBlockingHook,
    stub::WSAUnhookBlockingHook,
    stub::WSAGetLastError,
    stub::WSASetLastError,
    stub::WSACancelBlockingCall,
    stub::WSAIsBlocking,
    stub::WSAStartup,
    stub::WSACleanup,
    stub::WSAFDIsSet,
    stub::getaddrinfo,
    stub::freeaddrinfo,
    stub::getnameinfo,
};

constinit SocketLibrary g_library = {
    {0, 0, {}, {'D', 'o', 'w', 'n'}, 0, 0, nullptr},
    {'W', 'S', 'O', 'C', 'K', '3', '2', '.', 'D', 'L', 'L'},
    nullptr,
    0,
    kStubTable,
};

constexpr SocketModule kPosixModule = {kDefaultLibraryPath, posixSocketProc};

std::vector<const SocketModule*>& extraModules() {
    static std::vector<const SocketModule*> modules;
    return modules;
}

// Stands in for loading a library file: the built-in module, or one a test registered.
const SocketModule* loadModule(const char* path) noexcept {
    for (const SocketModule* module : extraModules()) {
        if (strcasecmp(module->path, path) == 0) {
            return module;
        }
    }
    return strcasecmp(kPosixModule.path, path) == 0 ? &kPosixModule : nullptr;
}

template <typename Fn> void resolveSlot(const SocketModule& module, int ordinal, Fn& slot) {
    if (AnyProc proc = module.procByOrdinal(ordinal)) {
        slot = reinterpret_cast<Fn>(proc);
    }
}

void resolveAll(const SocketModule& m, SocketEntryTable& t) {
    resolveSlot(m, 1, t.accept);
    resolveSlot(m, 2, t.bind);
    resolveSlot(m, 3, t.closesocket);
    resolveSlot(m, 4, t.connect);
    resolveSlot(m, 5, t.getpeername);
    resolveSlot(m, 6, t.getsockname);
    resolveSlot(m, 7, t.getsockopt);
    resolveSlot(m, 8, t.htonl_);
    resolveSlot(m, 9, t.htons_);
    resolveSlot(m, 10, t.inet_addr);
    resolveSlot(m, 11, t.inet_ntoa);
    resolveSlot(m, 12, t.ioctlsocket);
    resolveSlot(m, 13, t.listen);
    resolveSlot(m, 14, t.ntohl_);
    resolveSlot(m, 15, t.ntohs_);
    resolveSlot(m, 16, t.recv);
    resolveSlot(m, 17, t.recvfrom);
    resolveSlot(m, 18, t.select);
    resolveSlot(m, 19, t.send);
    resolveSlot(m, 20, t.sendto);
    resolveSlot(m, 21, t.setsockopt);
    resolveSlot(m, 22, t.shutdown);
    resolveSlot(m, 23, t.socket);
    resolveSlot(m, 51, t.gethostbyaddr);
    resolveSlot(m, 52, t.gethostbyname);
    resolveSlot(m, 53, t.getprotobyname);
    resolveSlot(m, 54, t.getprotobynumber);
    resolveSlot(m, 55, t.getservbyname);
    resolveSlot(m, 56, t.getservbyport);
    resolveSlot(m, 57, t.gethostname);
    resolveSlot(m, 101, t.WSAAsyncSelect);
    resolveSlot(m, 102, t.WSAAsyncGetHostByAddr);
    resolveSlot(m, 103, t.WSAAsyncGetHostByName);
    resolveSlot(m, 104, t.WSAAsyncGetProtoByNumber);
    resolveSlot(m, 105, t.WSAAsyncGetProtoByName);
    resolveSlot(m, 106, t.WSAAsyncGetServByPort);
    resolveSlot(m, 107, t.WSAAsyncGetServByName);
    resolveSlot(m, 108, t.WSACancelAsyncRequest);
    resolveSlot(m, 109, t.WSASetBlockingHook);
    resolveSlot(m, 110, t.WSAUnhookBlockingHook);
    resolveSlot(m, 111, t.WSAGetLastError);
    resolveSlot(m, 112, t.WSASetLastError);
    resolveSlot(m, 113, t.WSACancelBlockingCall);
    resolveSlot(m, 114, t.WSAIsBlocking);
    resolveSlot(m, 115, t.WSAStartup);
    resolveSlot(m, 116, t.WSACleanup);
    resolveSlot(m, 151, t.WSAFDIsSet);
    resolveSlot(m, 201, t.getaddrinfo);
    resolveSlot(m, 202, t.freeaddrinfo);
    resolveSlot(m, 203, t.getnameinfo);
}

template <std::size_t N> void setText(char (&field)[N], const char* text) noexcept {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

} // namespace

SocketLibrary& socketLibrary() noexcept {
    return g_library;
}

bool takeLibraryReference() noexcept {
    SocketLibrary& lib = g_library;
    const SocketModule* module = loadModule(lib.libraryPath);
    if (module == nullptr) {
        setText(lib.startup.szDescription, "Could not load Winsock DLL.");
        return false;
    }
    if (lib.module == nullptr) {
        lib.module = module;
    }
    ++lib.loadCount;
    if (lib.loadCount == 1) {
        resolveAll(*lib.module, lib.table);
    }
    const int result = lib.table.WSAStartup(kWinsockVersion11, &lib.startup);
    if (result == kWsaEInval || result == kWsaVerNotSupported) {
        // The reference is given back here too, so that a refused start-up leaks no count.
        releaseLibraryReference();
        setText(lib.startup.szDescription, "Version not supported.");
        return false;
    }
    if (result == kWsaSysNotReady) {
        releaseLibraryReference();
        setText(lib.startup.szDescription, "Network subsystem not ready.");
        return false;
    }
    if (lib.startup.wVersion == kWinsockVersion11) {
        return true;
    }
    releaseLibraryReference();
    setText(lib.startup.szDescription, "Incompatible Winsock version.");
    return false;
}

void releaseLibraryReference() noexcept {
    SocketLibrary& lib = g_library;
    if (lib.loadCount == 0 || lib.module == nullptr) {
        return;
    }
    --lib.loadCount;
    lib.table.WSACancelBlockingCall();
    lib.table.WSACleanup();
    // The texts describe the library as long as any component still holds it.
    if (lib.loadCount == 0) {
        setText(lib.startup.szDescription, "");
        setText(lib.startup.szSystemStatus, "Down");
        lib.startup.iMaxSockets = 0;
        lib.startup.iMaxUdpDg = 0;
        lib.table = kStubTable;
        lib.module = nullptr;
    }
}

void setLibraryPath(const char* path) noexcept {
    setText(g_library.libraryPath, path);
}

void registerSocketModule(const SocketModule& module) {
    auto& modules = extraModules();
    for (const SocketModule*& known : modules) {
        if (strcasecmp(known->path, module.path) == 0) {
            known = &module;
            return;
        }
    }
    modules.push_back(&module);
}

} // namespace dazoroz::net
