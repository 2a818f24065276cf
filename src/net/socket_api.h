#pragma once

// The socket library as the engine sees it: the calls and types of a Windows Sockets 1.1 style
// library, reached only through the process-wide entry table (socket_library.h). Addresses,
// option levels and names are the POSIX ones; error codes are the Windows-sockets codes of
// error_texts.h, read back with WSAGetLastError.

#include <cstdint>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace dazoroz::net {

class NotificationWindow;

using Socket = std::uintptr_t;
inline constexpr Socket kInvalidSocket = ~Socket{0};
inline constexpr int kSocketError = -1;
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu; // what inet_addr answers for "no address"

using WindowHandle = NotificationWindow*;
using AsyncHandle = std::uintptr_t;
using BlockingHook = int (*)();

// Asynchronous notification events (the low word of a notification's second parameter).
inline constexpr long kFdRead = 0x01;
inline constexpr long kFdWrite = 0x02;
inline constexpr long kFdOob = 0x04;
inline constexpr long kFdAccept = 0x08;
inline constexpr long kFdConnect = 0x10;
inline constexpr long kFdClose = 0x20;

// An IPv4 or IPv6 address with its port, in the form the socket calls take.
union SocketAddress {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};
inline int addressLength(const SocketAddress& address) noexcept {
    return address.any.sa_family == AF_INET6 ? static_cast<int>(sizeof(sockaddr_in6))
                                             : static_cast<int>(sizeof(sockaddr_in));
}

// Error codes the engine itself tests for or sets.
inline constexpr int kWsaBaseError = 10000;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaSysNotReady = 10091;
inline constexpr int kWsaVerNotSupported = 10092;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;

inline constexpr std::uint16_t kWinsockVersion11 = 0x0101; // low byte major, high byte minor

// What the start-up call fills in.
struct WsaData {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// The host-name lookup's answer: IPv4 addresses (4 bytes each, network order), null-terminated.
struct WsaHostEnt {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

// Types of calls the engine never makes; only their entry-table slots exist.
struct WsaFdSet;
struct WsaProtoEnt;
struct WsaServEnt;

// One slot per library function, named after it and resolved by its ordinal. The byte-order
// slots carry a trailing underscore because the C library may define the plain names as macros.
struct SocketEntryTable {
    Socket (*accept)(Socket, sockaddr*, int*);                           // 1
    int (*bind)(Socket, const sockaddr*, int);                           // 2
    int (*closesocket)(Socket);                                          // 3
    int (*connect)(Socket, const sockaddr*, int);                        // 4
    int (*getpeername)(Socket, sockaddr*, int*);                         // 5
    int (*getsockname)(Socket, sockaddr*, int*);                         // 6
    int (*getsockopt)(Socket, int, int, char*, int*);                    // 7
    std::uint32_t (*htonl_)(std::uint32_t);                              // 8
    std::uint16_t (*htons_)(std::uint16_t);                              // 9
    std::uint32_t (*inet_addr)(const char*);                             // 10
    const char* (*inet_ntoa)(in_addr);                                   // 11
    int (*ioctlsocket)(Socket, long, std::uint32_t*);                    // 12
    int (*listen)(Socket, int);                                          // 13
    std::uint32_t (*ntohl_)(std::uint32_t);                              // 14
    std::uint16_t (*ntohs_)(std::uint16_t);                              // 15
    int (*recv)(Socket, char*, int, int);                                // 16
    int (*recvfrom)(Socket, char*, int, int, sockaddr*, int*);           // 17
    int (*select)(int, WsaFdSet*, WsaFdSet*, WsaFdSet*, const timeval*); // 18
    int (*send)(Socket, const char*, int, int);                          // 19
    int (*sendto)(Socket, const char*, int, int, const sockaddr*, int);  // 20
    int (*setsockopt)(Socket, int, int, const char*, int);               // 21
    int (*shutdown)(Socket, int);                                        // 22
    Socket (*socket)(int, int, int);                                     // 23
    WsaHostEnt* (*gethostbyaddr)(const char*, int, int);                 // 51
    WsaHostEnt* (*gethostbyname)(const char*);                           // 52
    WsaProtoEnt* (*getprotobyname)(const char*);                         // 53
    WsaProtoEnt* (*getprotobynumber)(int);                               // 54
    WsaServEnt* (*getservbyname)(const char*, const char*);              // 55
    WsaServEnt* (*getservbyport)(int, const char*);                      // 56
    int (*gethostname)(char*, int);                                      // 57
    int (*WSAAsyncSelect)(Socket, WindowHandle, unsigned, long);         // 101
    AsyncHandle (*WSAAsyncGetHostByAddr)(WindowHandle, unsigned, const char*, int, int, char*,
                                         int);                                              // 102
    AsyncHandle (*WSAAsyncGetHostByName)(WindowHandle, unsigned, const char*, char*, int);  // 103
    AsyncHandle (*WSAAsyncGetProtoByNumber)(WindowHandle, unsigned, int, char*, int);       // 104
    AsyncHandle (*WSAAsyncGetProtoByName)(WindowHandle, unsigned, const char*, char*, int); // 105
    AsyncHandle (*WSAAsyncGetServByPort)(WindowHandle, unsigned, int, const char*, char*,
                                         int); // 106
    AsyncHandle (*WSAAsyncGetServByName)(WindowHandle, unsigned, const char*, const char*, char*,
                                         int);        // 107
    int (*WSACancelAsyncRequest)(AsyncHandle);        // 108
    BlockingHook (*WSASetBlockingHook)(BlockingHook); // 109
    int (*WSAUnhookBlockingHook)();                   // 110
    int (*WSAGetLastError)();                         // 111
    void (*WSASetLastError)(int);                     // 112
    int (*WSACancelBlockingCall)();                   // 113
    int (*WSAIsBlocking)();                           // 114
    int (*WSAStartup)(std::uint16_t, WsaData*);       // 115
    int (*WSACleanup)();                              // 116
    int (*WSAFDIsSet)(Socket, WsaFdSet*);             // 151
    // Beyond version 1.1, under ordinals of this library's own: the lookup of every address of
    // a name or an address text of either family, and the text of an address. They answer 0 or
    // a Windows-sockets error code (11001 and the other lookup codes).
    int (*getaddrinfo)(const char* node, const char* service, const addrinfo* hints,
                       addrinfo** result); // 201
    void (*freeaddrinfo)(addrinfo* list);  // 202
    int (*getnameinfo)(const sockaddr* address, int length, char* host, int hostLength,
                       char* service, int serviceLength, int flags); // 203
};

} // namespace dazoroz::net
