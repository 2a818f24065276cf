// The built-in socket library: the entry points of the table over non-blocking POSIX sockets,
// with Windows-sockets error codes and asynchronous notifications sent to notification
// windows, whose event loop watches the descriptors. Socket handles are numbers of our own that
// are never reused in a process, so a notification still queued for a closed socket can never be
// taken for a newer one.

#include "net/error_texts.h"
#include "net/notification_window.h"
#include "net/socket_library.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace dazoroz::net {

namespace {

thread_local int t_lastError = 0;
int g_startupCount = 0;

int fail(int code) noexcept {
    t_lastError = code;
    return kSocketError;
}

// Every POSIX error that has a Windows-sockets counterpart, and the few that stand for one.
int wsaFromErrno(int e) noexcept {
    switch (e) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS:
        return 10035;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return kWsaBaseError;
    }
}

int failErrno(int e) noexcept {
    return fail(wsaFromErrno(e));
}

bool wouldBlock(int e) noexcept {
#if EAGAIN != EWOULDBLOCK
    if (e == EWOULDBLOCK) {
        return true;
    }
#endif
    return e == EAGAIN;
}

// Errors after which the connection is gone for good: every later call reports the same code.
bool breaksConnection(int e) noexcept {
    return e == ECONNRESET || e == ECONNABORTED || e == ETIMEDOUT || e == ENETRESET ||
           e == EHOSTUNREACH || e == ENETUNREACH;
}

// A connect that fails at once with one of these is reported the asynchronous way.
bool isConnectOutcome(int e) noexcept {
    return e == ECONNREFUSED || e == ENETUNREACH || e == EHOSTUNREACH || e == ETIMEDOUT ||
           e == ECONNRESET;
}

enum class Phase { Unconnected, Connecting, Connected, Failed };

struct SocketRecord;
void onReadable(SocketRecord& rec);
void onWritable(SocketRecord& rec);

struct SocketRecord final : ReadinessHandler {
    Socket handle = kInvalidSocket;
    int fd = -1;
    Phase phase = Phase::Unconnected;
    std::weak_ptr<NotificationWindow> window;
    unsigned message = 0;
    long events = 0;
    std::unique_ptr<DescriptorWatch> watch; // on the window's event loop
    EventLoop* watchLoop = nullptr;
    bool closeReported = false;
    bool readPending = false; // a read notification went out and nothing has been read since
    int brokenError = 0;      // Windows-sockets code once the connection is broken

    void descriptorReady(Readiness which) noexcept override {
        // Either may close the socket: the record is not used after this.
        if (which == Readiness::Read) {
            onReadable(*this);
        } else {
            onWritable(*this);
        }
    }
};

// Never destroyed: sockets still open at exit must not touch an event loop after it has gone.
std::unordered_map<Socket, std::unique_ptr<SocketRecord>>& records() {
    static auto* map = new std::unordered_map<Socket, std::unique_ptr<SocketRecord>>();
    return *map;
}

Socket g_nextHandle = 0x100;

SocketRecord* find(Socket s) noexcept {
    auto& map = records();
    const auto it = map.find(s);
    return it == map.end() ? nullptr : it->second.get();
}

bool started() noexcept {
    return g_startupCount > 0;
}

void post(SocketRecord& rec, long event, int error) {
    if ((rec.events & event) == 0) {
        return;
    }
    if (const std::shared_ptr<NotificationWindow> window = rec.window.lock()) {
        postMessage(window.get(), rec.message, rec.handle, makeSelectReply(event, error));
    }
}

void enable(SocketRecord& rec, Readiness which, bool on) {
    if (rec.watch) {
        rec.watch->setEnabled(which, on);
    }
}

// Read readiness is watched while the connection is up and its close not yet reported. After
// a read notification no other goes out until the application reads (recv re-enables it); the
// watch is switched off only if it fires again meanwhile, because registering it anew costs a
// system call, and in Qt's event dispatcher an allocation, and the receive path is meant to
// allocate nothing.
void armReader(SocketRecord& rec) {
    enable(rec, Readiness::Read,
           rec.phase == Phase::Connected && !rec.closeReported &&
               (rec.events & (kFdRead | kFdClose)) != 0);
}

void reportClose(SocketRecord& rec, int error) {
    if (!rec.closeReported) {
        rec.closeReported = true;
        enable(rec, Readiness::Read, false);
        post(rec, kFdClose, error);
    }
}

void connectionUp(SocketRecord& rec) {
    rec.phase = Phase::Connected;
    post(rec, kFdConnect, 0);
    post(rec, kFdWrite, 0);
    armReader(rec);
}

// Without read notifications only a close is watched for: a look at the next byte tells it.
void watchForClose(SocketRecord& rec) {
    char probe = 0;
    const ssize_t n = ::recv(rec.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        enable(rec, Readiness::Read, false);
        return;
    }
    if (n == 0) {
        reportClose(rec, 0);
        return;
    }
    const int e = errno;
    if (wouldBlock(e) || e == EINTR) {
        return;
    }
    rec.brokenError = wsaFromErrno(e);
    reportClose(rec, rec.brokenError);
}

// Readiness goes to the engine as a read notification straight away, from the event loop that
// saw it: the engine's own read finds out what it was (see posixRecv).
void onReadable(SocketRecord& record) {
    SocketRecord* rec = &record;
    if (rec->phase != Phase::Connected || rec->closeReported || rec->readPending) {
        enable(*rec, Readiness::Read, false);
        return;
    }
    if ((rec->events & kFdRead) == 0) {
        watchForClose(*rec);
        return;
    }
    rec->readPending = true;
    // May close the socket: rec is not used after this.
    const std::shared_ptr<NotificationWindow> window = rec->window.lock();
    dispatchMessage(window.get(), rec->message, rec->handle, makeSelectReply(kFdRead, 0));
}

void onWritable(SocketRecord& record) {
    SocketRecord* rec = &record;
    enable(*rec, Readiness::Write, false);
    if (rec->phase == Phase::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(rec->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error == 0) {
            connectionUp(*rec);
        } else if (error == ECONNRESET || error == ECONNABORTED || error == EPIPE) {
            // Connected, and reset before we looked: the connect succeeded, the close follows.
            connectionUp(*rec);
            rec->brokenError = wsaFromErrno(error);
            reportClose(*rec, rec->brokenError);
        } else {
            rec->phase = Phase::Failed;
            post(*rec, kFdConnect, wsaFromErrno(error));
        }
    } else if (rec->phase == Phase::Connected) {
        post(*rec, kFdWrite, 0);
    }
}

int asLength(socklen_t length) noexcept {
    return static_cast<int>(length);
}

// --- the entry points ---

Socket posixSocket(int af, int type, int protocol) {
    if (!started()) {
        fail(kWsaNotInitialised);
        return kInvalidSocket;
    }
    const int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        failErrno(errno);
        return kInvalidSocket;
    }
    try {
        auto rec = std::make_unique<SocketRecord>();
        rec->handle = g_nextHandle++;
        rec->fd = fd;
        const Socket handle = rec->handle;
        records().emplace(handle, std::move(rec));
        return handle;
    } catch (const std::bad_alloc&) {
        ::close(fd);
        fail(10055);
        return kInvalidSocket;
    }
}

int posixClosesocket(Socket s) {
    auto& map = records();
    const auto it = map.find(s);
    if (it == map.end()) {
        return fail(kWsaENotSock);
    }
    SocketRecord& rec = *it->second;
    // The watch goes before its descriptor does.
    rec.watch.reset();
    const int result = ::close(rec.fd);
    const int e = errno;
    map.erase(it);
    return result == 0 || e == EINTR ? 0 : failErrno(e);
}

int posixBind(Socket s, const sockaddr* address, int length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    if (::bind(rec->fd, address, static_cast<socklen_t>(length)) != 0) {
        return failErrno(errno);
    }
    return 0;
}

int posixConnect(Socket s, const sockaddr* address, int length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    if (rec->phase == Phase::Connecting) {
        return fail(10037);
    }
    if (rec->phase == Phase::Connected) {
        return fail(10056);
    }
    if (::connect(rec->fd, address, static_cast<socklen_t>(length)) == 0) {
        connectionUp(*rec);
        return 0;
    }
    const int e = errno;
    const bool async = !rec->window.expired() && (rec->events & kFdConnect) != 0;
    if (e == EINPROGRESS || wouldBlock(e)) {
        rec->phase = Phase::Connecting;
        enable(*rec, Readiness::Write, true);
        return fail(kWsaEWouldBlock);
    }
    if (async && isConnectOutcome(e)) {
        // A non-blocking connect always reports its outcome through the notification.
        rec->phase = Phase::Failed;
        post(*rec, kFdConnect, wsaFromErrno(e));
        return fail(kWsaEWouldBlock);
    }
    return failErrno(e);
}

int posixGetpeername(Socket s, sockaddr* address, int* length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    socklen_t size = length != nullptr ? static_cast<socklen_t>(*length) : 0;
    if (::getpeername(rec->fd, address, &size) != 0) {
        return failErrno(errno);
    }
    if (length != nullptr) {
        *length = asLength(size);
    }
    return 0;
}

int posixGetsockname(Socket s, sockaddr* address, int* length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    socklen_t size = length != nullptr ? static_cast<socklen_t>(*length) : 0;
    if (::getsockname(rec->fd, address, &size) != 0) {
        return failErrno(errno);
    }
    if (length != nullptr) {
        *length = asLength(size);
    }
    return 0;
}

int posixGetsockopt(Socket s, int level, int name, char* value, int* length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    socklen_t size = length != nullptr ? static_cast<socklen_t>(*length) : 0;
    if (::getsockopt(rec->fd, level, name, value, &size) != 0) {
        return failErrno(errno);
    }
    if (length != nullptr) {
        *length = asLength(size);
    }
    return 0;
}

int posixSetsockopt(Socket s, int level, int name, const char* value, int length) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    if (::setsockopt(rec->fd, level, name, value, static_cast<socklen_t>(length)) != 0) {
        return failErrno(errno);
    }
    return 0;
}

std::uint32_t posixHtonl(std::uint32_t v) {
    return htonl(v);
}
std::uint16_t posixHtons(std::uint16_t v) {
    return htons(v);
}
std::uint32_t posixNtohl(std::uint32_t v) {
    return ntohl(v);
}
std::uint16_t posixNtohs(std::uint16_t v) {
    return ntohs(v);
}

std::uint32_t posixInetAddr(const char* text) {
    if (text == nullptr) {
        return kNoAddress;
    }
    in_addr address{};
    return ::inet_aton(text, &address) != 0 ? address.s_addr : kNoAddress;
}

const char* posixInetNtoa(in_addr address) {
    thread_local char text[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &address, text, sizeof text);
}

int posixRecv(Socket s, char* buffer, int length, int flags) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    if (rec->brokenError != 0) {
        return fail(rec->brokenError);
    }
    // The first read after a read notification tells what the readiness was. A connection
    // closed or broken by the peer is the close notification's to report (with its error), and
    // this read would block, just as if the readiness had been reported as a close at once.
    const bool answersNotification =
        rec->readPending && !rec->closeReported && (rec->events & kFdClose) != 0;
    rec->readPending = false; // reading is what re-enables read notifications
    armReader(*rec);
    const ssize_t n = ::recv(rec->fd, buffer, static_cast<std::size_t>(std::max(length, 0)), flags);
    if (n > 0 || (n == 0 && length <= 0)) {
        return static_cast<int>(n);
    }
    if (n == 0) {
        reportClose(*rec, 0);
        return answersNotification ? fail(kWsaEWouldBlock) : 0;
    }
    const int e = errno;
    if (answersNotification && !wouldBlock(e) && e != EINTR) {
        rec->brokenError = wsaFromErrno(e);
        reportClose(*rec, rec->brokenError);
        return fail(kWsaEWouldBlock);
    }
    if (breaksConnection(e)) {
        rec->brokenError = wsaFromErrno(e);
        reportClose(*rec, rec->brokenError);
    }
    return failErrno(e);
}

int posixSend(Socket s, const char* buffer, int length, int flags) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    if (rec->brokenError != 0) {
        return fail(rec->brokenError);
    }
    const auto size = static_cast<std::size_t>(std::max(length, 0));
    const ssize_t n = ::send(rec->fd, buffer, size, flags | MSG_NOSIGNAL);
    if (n < 0) {
        const int e = errno;
        if (wouldBlock(e)) {
            enable(*rec, Readiness::Write, (rec->events & kFdWrite) != 0);
        } else if (breaksConnection(e)) {
            rec->brokenError = wsaFromErrno(e);
            reportClose(*rec, rec->brokenError);
        }
        return failErrno(e);
    }
    if (static_cast<std::size_t>(n) < size) {
        enable(*rec, Readiness::Write, (rec->events & kFdWrite) != 0);
    }
    return static_cast<int>(n);
}

int posixShutdown(Socket s, int how) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    return ::shutdown(rec->fd, how) == 0 ? 0 : failErrno(errno);
}

bool isInvalidDomain(const char* name) {
    // Names under "invalid" never resolve (RFC 6761), so they are not sent to a name server.
    std::size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '.') {
        --length;
    }
    constexpr std::size_t kLabel = 7; // "invalid"
    if (length < kLabel || strncasecmp(name + length - kLabel, "invalid", kLabel) != 0) {
        return false;
    }
    return length == kLabel || name[length - kLabel - 1] == '.';
}

int wsaFromLookup(int error, int savedErrno) noexcept {
    switch (error) {
    case EAI_NONAME:
        return 11001;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return wsaFromErrno(savedErrno);
    default:
        return 11003;
    }
}

WsaHostEnt* posixGethostbyname(const char* name) {
    if (!started()) {
        fail(kWsaNotInitialised);
        return nullptr;
    }
    if (name == nullptr || isInvalidDomain(name)) {
        fail(kWsaHostNotFound);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int error = ::getaddrinfo(name, nullptr, &hints, &result);
    if (error != 0) {
        fail(wsaFromLookup(error, errno));
        return nullptr;
    }
    // One answer per thread, valid until the next lookup.
    constexpr int kMaxAddresses = 35;
    thread_local char hostName[256];
    thread_local in_addr addresses[kMaxAddresses];
    thread_local char* addressList[kMaxAddresses + 1];
    thread_local char* noAliases[1] = {nullptr};
    thread_local WsaHostEnt entry;
    int count = 0;
    for (const addrinfo* ai = result; ai != nullptr && count < kMaxAddresses; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
            sockaddr_in address{};
            std::memcpy(&address, ai->ai_addr, sizeof address);
            addresses[count] = address.sin_addr;
            addressList[count] = reinterpret_cast<char*>(&addresses[count]);
            ++count;
        }
    }
    addressList[count] = nullptr;
    ::freeaddrinfo(result);
    if (count == 0) {
        fail(11004);
        return nullptr;
    }
    std::strncpy(hostName, name, sizeof hostName - 1);
    hostName[sizeof hostName - 1] = '\0';
    entry =
        WsaHostEnt{hostName, noAliases, AF_INET, static_cast<short>(sizeof(in_addr)), addressList};
    return &entry;
}

int posixGetaddrinfo(const char* node, const char* service, const addrinfo* hints,
                     addrinfo** result) {
    if (result != nullptr) {
        *result = nullptr;
    }
    if (!started()) {
        return t_lastError = kWsaNotInitialised;
    }
    if (result == nullptr) {
        return t_lastError = 10014;
    }
    if (node != nullptr && isInvalidDomain(node)) {
        return t_lastError = kWsaHostNotFound;
    }
    const int error = ::getaddrinfo(node, service, hints, result);
    if (error != 0) {
        *result = nullptr;
        return t_lastError = wsaFromLookup(error, errno);
    }
    return 0;
}

void posixFreeaddrinfo(addrinfo* list) {
    if (list != nullptr) {
        ::freeaddrinfo(list);
    }
}

int posixGetnameinfo(const sockaddr* address, int length, char* host, int hostLength, char* service,
                     int serviceLength, int flags) {
    if (!started()) {
        return t_lastError = kWsaNotInitialised;
    }
    if (address == nullptr || length < 0 || hostLength < 0 || serviceLength < 0) {
        return t_lastError = 10014;
    }
    const int error = ::getnameinfo(address, static_cast<socklen_t>(length), host,
                                    static_cast<socklen_t>(hostLength), service,
                                    static_cast<socklen_t>(serviceLength), flags);
    return error == 0 ? 0 : (t_lastError = wsaFromLookup(error, errno));
}

int posixGethostname(char* name, int length) {
    if (!started()) {
        return fail(kWsaNotInitialised);
    }
    if (name == nullptr || length <= 0) {
        return fail(10014);
    }
    if (::gethostname(name, static_cast<std::size_t>(length)) != 0) {
        return fail(errno == ENAMETOOLONG ? 10014 : wsaFromErrno(errno));
    }
    name[length - 1] = '\0';
    return 0;
}

int posixAsyncSelect(Socket s, WindowHandle window, unsigned message, long events) {
    SocketRecord* rec = find(s);
    if (rec == nullptr) {
        return fail(kWsaENotSock);
    }
    rec->window =
        window != nullptr ? window->weak_from_this() : std::weak_ptr<NotificationWindow>();
    rec->message = message;
    rec->events = window != nullptr ? events : 0;
    if (rec->events == 0) {
        rec->watch.reset();
        rec->watchLoop = nullptr;
        return 0;
    }
    if (!rec->watch || rec->watchLoop != &window->loop()) {
        rec->watch.reset();
        rec->watch = window->loop().watchDescriptor(rec->fd, *rec);
        if (!rec->watch) {
            rec->watchLoop = nullptr;
            return fail(10055);
        }
        rec->watchLoop = &window->loop();
    }
    enable(*rec, Readiness::Write, rec->phase == Phase::Connecting);
    armReader(*rec);
    if (rec->phase == Phase::Connected && !rec->closeReported) {
        post(*rec, kFdWrite, 0);
    }
    return 0;
}

int posixGetLastError() {
    return t_lastError;
}
void posixSetLastError(int code) {
    t_lastError = code;
}
int posixCancelBlockingCall() {
    return fail(kWsaEInval);
} // no call ever blocks in the hook
int posixIsBlocking() {
    return 0;
}

int posixStartup(std::uint16_t requested, WsaData* data) {
    if (data == nullptr) {
        return 10014;
    }
    if ((requested & 0xFF) < 1) {
        return kWsaVerNotSupported;
    }
    ++g_startupCount;
    data->wVersion = kWinsockVersion11;
    data->wHighVersion = kWinsockVersion11;
    std::strncpy(data->szDescription, "Dazoroz sockets over POSIX 1.1",
                 sizeof data->szDescription - 1);
    std::strncpy(data->szSystemStatus, "Running", sizeof data->szSystemStatus - 1);
    const long open = ::sysconf(_SC_OPEN_MAX);
    data->iMaxSockets = static_cast<std::uint16_t>(std::clamp<long>(open, 0, 0xFFFF));
    data->iMaxUdpDg = 65467;
    data->lpVendorInfo = nullptr;
    return 0;
}

int posixCleanup() {
    if (g_startupCount == 0) {
        return fail(kWsaNotInitialised);
    }
    --g_startupCount;
    return 0;
}

template <typename Fn> AnyProc proc(Fn fn) noexcept {
    return reinterpret_cast<AnyProc>(fn);
}

} // namespace

std::size_t posixOpenSocketCount() noexcept {
    return records().size();
}

AnyProc posixSocketProc(int ordinal) noexcept {
    switch (ordinal) {
    case 2:
        return proc(&posixBind);
    case 3:
        return proc(&posixClosesocket);
    case 4:
        return proc(&posixConnect);
    case 5:
        return proc(&posixGetpeername);
    case 6:
        return proc(&posixGetsockname);
    case 7:
        return proc(&posixGetsockopt);
    case 8:
        return proc(&posixHtonl);
    case 9:
        return proc(&posixHtons);
    case 10:
        return proc(&posixInetAddr);
    case 11:
        return proc(&posixInetNtoa);
    case 14:
        return proc(&posixNtohl);
    case 15:
        return proc(&posixNtohs);
    case 16:
        return proc(&posixRecv);
    case 19:
        return proc(&posixSend);
    case 21:
        return proc(&posixSetsockopt);
    case 22:
        return proc(&posixShutdown);
    case 23:
        return proc(&posixSocket);
    case 52:
        return proc(&posixGethostbyname);
    case 57:
        return proc(&posixGethostname);
    case 101:
        return proc(&posixAsyncSelect);
    case 111:
        return proc(&posixGetLastError);
    case 112:
        return proc(&posixSetLastError);
    case 113:
        return proc(&posixCancelBlockingCall);
    case 114:
        return proc(&posixIsBlocking);
    case 115:
        return proc(&posixStartup);
    case 116:
        return proc(&posixCleanup);
    case 201:
        return proc(&posixGetaddrinfo);
    case 202:
        return proc(&posixFreeaddrinfo);
    case 203:
        return proc(&posixGetnameinfo);
    default:
        return nullptr; // the calls the engine never makes keep their stubs
    }
}

} // namespace dazoroz::net
