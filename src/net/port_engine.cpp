#include "net/port_engine.h"

#include "net/socket_library.h"
#include "net/warnings.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#include <netinet/tcp.h>

namespace dazoroz::net {

namespace {

// The last socket error; never 0 after a failed call, so a failure cannot pass for success.
int lastSocketError() noexcept {
    const int code = ws().WSAGetLastError();
    return code != 0 ? code : kWsaBaseError;
}

template <typename T> const char* asBytes(const T& value) noexcept {
    return reinterpret_cast<const char*>(&value);
}

template <std::size_t N> void copyText(std::array<char, N>& area, std::string_view text) noexcept {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(area.data(), text.data(), n);
    area[n] = '\0';
}

constexpr long kPortEvents = kFdRead | kFdWrite | kFdConnect | kFdClose; // 0x33

// A connection that the peer ended during the TLS handshake, by its socket error.
int handshakeBroken(int error) noexcept {
    switch (error) {
    case 0:
        return kTlsClosedInHandshake;
    case 10052: // reset
    case 10053: // aborted
    case kWsaEConnReset:
        return kTlsResetInHandshake;
    default:
        return error;
    }
}

} // namespace

const char* portResultText(int code) noexcept {
    switch (code) {
    case kRemotePortBusy:
        return "You cannot change the RemotePort at this time. A connection is in progress.";
    case kRemoteHostBusy:
        return "You cannot change the RemoteHost at this time. A connection is in progress.";
    case kRemoteAddressInvalid:
        return "The RemoteHost address is invalid (0.0.0.0).";
    case kAlreadyConnected:
        return "Already connected. If you want to reconnect, close the current connection first.";
    case kLocalPortBusy:
        return "You cannot change the LocalPort at this time. A connection is in progress.";
    case kMaxLineLengthBusy:
        return "You cannot change MaxLineSize at this time. A connection is in progress.";
    case kMaxLineLengthRange:
        return "MaxLineLength must be between 1 and 65535.";
    case kRemotePortZero:
        return "RemotePort can't be zero. Please specify a valid service port number.";
    case kEolTooLong:
        return "EOL can't be longer than 65535 bytes.";
    case kTlsBusy:
        return "You cannot change UseTLS or TLSCAFile at this time. A connection is in progress.";
    case kOutOfMemory:
        return "Out of memory.";
    case kCreateFailed:
        return "Velmora IPPort: Error creating component";
    default:
        return nullptr;
    }
}

// ---------------------------------------------------------------- layer 1

void EngineErrorHolder::recordResult(int code) noexcept {
    if (code == kPortOk) {
        return;
    }
    if (code == kOutOfMemory) {
        lastError_ = portResultText(kOutOfMemory);
        return;
    }
    if (lastError_ == nullptr) {
        formatErrorText(code, textArea_);
        lastError_ = textArea_.data();
    }
}

// ---------------------------------------------------------------- layer 2

bool WindowSocketEngine::createWindow(EventLoop* loop) noexcept {
    if (window_ == nullptr) {
        window_ = NotificationWindow::create(loop);
        if (window_ == nullptr) {
            return false;
        }
        window_->setTarget(this);
    }
    libraryHeld_ = takeLibraryReference();
    return true;
}

void WindowSocketEngine::destroy() noexcept {
    if (libraryHeld_) {
        releaseLibraryReference();
        libraryHeld_ = false;
    }
    if (window_ != nullptr) {
        window_->setTarget(nullptr);
        window_.reset();
    }
}

const char* WindowSocketEngine::localHost() noexcept {
    if (ws().gethostname(localName_.data(), static_cast<int>(localName_.size())) == 0) {
        localName_.back() = '\0';
        return localName_.data();
    }
    ErrorTextArea text;
    formatErrorText(lastSocketError(), text);
    copyText(localName_, text.data());
    return localName_.data();
}

long WindowSocketEngine::windowMessage(unsigned, std::uintptr_t, std::intptr_t) {
    return 0; // what the default window procedure does with a message nobody wants
}

void warnLostException(std::exception_ptr error) noexcept {
    try {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            writeWarning((std::string("TCP port: an event handler failed: ") + e.what()).c_str());
        }
    } catch (...) {
        writeWarning("TCP port: an event handler failed with an unknown exception");
    }
}

void WindowSocketEngine::exceptionLost(std::exception_ptr error) noexcept {
    warnLostException(error);
}

// ---------------------------------------------------------------- layer 3: set-up

PortEngine::~PortEngine() {
    // Destroy: an open connection is reset rather than closed gracefully, and no event fires.
    linger_ = false;
    if (socket_ != kInvalidSocket) {
        applyLinger(false);
    }
    if (ws().WSAIsBlocking() != 0) {
        ws().WSACancelBlockingCall();
    }
    if (socket_ != kInvalidSocket) {
        closeWithoutEvent();
    }
    WindowSocketEngine::destroy();
}

void PortEngine::initialise() noexcept {
    WindowSocketEngine::initialise();
    inBufferSize_ = 2048;
    outBufferSize_ = 2048;
    socket_ = kInvalidSocket;
    remoteAddresses_.clear();
    currentAddress_ = 0;
    remoteHostName_.clear();
    remotePort_ = 0;
    localPort_ = 0;
    bytesSent_ = 0;
    connected_ = false;
    pumpRunning_ = false;
    closePending_ = false;
    linger_ = true;
    keepAlive_ = false;
    useTls_ = false;
    tlsCAFile_.clear();
    tls_.reset();
    handshaking_ = false;
    buffer_.clear();
    buffer_.setTerminator({});
}

bool PortEngine::allocateBuffer() noexcept {
    return buffer_.setCapacity(2048);
}

// ---------------------------------------------------------------- numbered properties

std::int64_t PortEngine::readInteger(int property) noexcept {
    switch (property) {
    case ppConnected:
        return connected_ ? 1 : 0;
    case ppInBufferSize:
        return inBufferSize_;
    case ppKeepAlive:
        return keepAlive_ ? 1 : 0;
    case ppLinger:
        return linger_ ? 1 : 0;
    case ppLocalPort:
        return socket_ != kInvalidSocket ? boundPort() : localPort_;
    case ppMaxLineLength:
        return buffer_.capacity();
    case ppOutBufferSize:
        return outBufferSize_;
    case ppRemotePort:
        return remotePort_;
    case ppWinsockLoaded:
        return libraryHeld_ ? 1 : 0;
    case ppUseTLS:
        return useTls_ ? 1 : 0;
    default:
        return 0;
    }
}

std::string_view PortEngine::readText(int property) noexcept {
    const WsaData& startup = socketLibrary().startup;
    switch (property) {
    case ppEOL:
        return buffer_.terminator();
    case ppLocalHost:
        return localHost();
    case ppRemoteHost:
        // The address in use, or last tried; before any connect, the first.
        return remoteAddresses_.empty() ? std::string_view()
                                        : addressText(remoteAddresses_[currentAddress_]);
    case ppWinsockInfo:
        return {startup.szDescription, strnlen(startup.szDescription, 256)};
    case ppWinsockStatus:
        return {startup.szSystemStatus, strnlen(startup.szSystemStatus, 128)};
    case ppTLSCAFile:
        return tlsCAFile_;
    default:
        return {};
    }
}

int PortEngine::writeInteger(int property, std::int64_t value) {
    clearLastError();
    int result = kPortOk;
    const bool fits32 = value >= INT32_MIN && value <= INT32_MAX;
    switch (property) {
    case ppConnected:
        result = value != 0 ? connect() : close(0, true);
        break;
    case ppInBufferSize:
        result = fits32 ? writeBufferSize(SO_RCVBUF, inBufferSize_, value) : kWsaEInval;
        break;
    case ppOutBufferSize:
        result = fits32 ? writeBufferSize(SO_SNDBUF, outBufferSize_, value) : kWsaEInval;
        break;
    case ppKeepAlive:
        result = writeKeepAlive(value != 0);
        break;
    case ppLinger:
        result = writeLinger(value != 0);
        break;
    case ppLocalPort:
        result = writePort(localPort_, kLocalPortBusy, value);
        break;
    case ppMaxLineLength:
        result = writeMaxLineLength(value);
        break;
    case ppRemotePort:
        result = writePort(remotePort_, kRemotePortBusy, value);
        break;
    case ppWinsockLoaded:
        result = writeWinsockLoaded(value != 0);
        break;
    case ppUseTLS:
        if (socket_ != kInvalidSocket) {
            result = kTlsBusy;
        } else {
            useTls_ = value != 0;
        }
        break;
    case ppLocalHost:
    case ppWinsockInfo:
    case ppWinsockStatus:
        break; // read-only: accepted and ignored
    default:
        result = kWsaEInval;
        break;
    }
    if (const char* fixed = portResultText(result); fixed != nullptr && lastError_ == nullptr) {
        setLastError(fixed);
    }
    recordResult(result);
    return result;
}

int PortEngine::writeText(int property, const char* bytes, std::size_t length) {
    clearLastError();
    int result = kPortOk;
    switch (property) {
    case ppRemoteHost:
        result = resolve(bytes);
        break;
    case ppEOL:
        result = writeEol({bytes, length});
        break;
    case ppDataOut:
        result = send({bytes, length});
        break;
    case ppTLSCAFile:
        result = writeCAFile({bytes, length});
        break;
    case ppLocalHost:
    case ppWinsockInfo:
    case ppWinsockStatus:
        break;
    default:
        result = kWsaEInval;
        break;
    }
    if (const char* fixed = portResultText(result); fixed != nullptr && lastError_ == nullptr) {
        setLastError(fixed);
    }
    recordResult(result);
    return result;
}

int PortEngine::writeEol(std::string_view bytes) {
    if (bytes.size() > 0xFFFF) {
        return kEolTooLong;
    }
    if (!buffer_.setTerminator(bytes)) {
        return kOutOfMemory;
    }
    if (connected_) {
        // Re-scan what is buffered with the new terminator.
        postMessage(window_.get(), kSocketMessage, socket_, makeSelectReply(kFdRead, 0));
    }
    return kPortOk;
}

int PortEngine::writeCAFile(std::string_view path) {
    if (socket_ != kInvalidSocket) {
        return kTlsBusy;
    }
    try {
        tlsCAFile_.assign(path);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    return kPortOk;
}

int PortEngine::writePort(std::uint16_t& port, int busyCode, std::int64_t value) {
    if (socket_ != kInvalidSocket)
        return busyCode;
    if (value < 0 || value > 0xFFFF)
        return kWsaEInval;
    port = static_cast<std::uint16_t>(value);
    return kPortOk;
}

int PortEngine::writeMaxLineLength(std::int64_t value) {
    if (socket_ != kInvalidSocket) {
        return kMaxLineLengthBusy;
    }
    if (value < 1 || value > 0xFFFF) {
        return kMaxLineLengthRange;
    }
    return buffer_.setCapacity(static_cast<std::uint16_t>(value)) ? kPortOk : kOutOfMemory;
}

int PortEngine::writeKeepAlive(bool on) {
    keepAlive_ = on;
    if (socket_ == kInvalidSocket) {
        return kPortOk;
    }
    const int value = on ? 1 : 0;
    if (ws().setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, asBytes(value), sizeof value) == 0) {
        return kPortOk;
    }
    const int error = lastSocketError();
    int actual = 0;
    int length = sizeof actual;
    if (ws().getsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&actual),
                        &length) == 0) {
        keepAlive_ = actual != 0;
    }
    return error;
}

int PortEngine::applyLinger(bool on) noexcept {
    // Linger on: close returns at once and the stack finishes in the background; off: reset.
    linger value{};
    value.l_onoff = on ? 0 : 1;
    value.l_linger = 0;
    if (ws().setsockopt(socket_, SOL_SOCKET, SO_LINGER, asBytes(value), sizeof value) == 0) {
        return kPortOk;
    }
    return lastSocketError();
}

int PortEngine::writeLinger(bool on) {
    if (socket_ != kInvalidSocket) {
        if (const int error = applyLinger(on); error != kPortOk) {
            return error;
        }
    }
    linger_ = on;
    return kPortOk;
}

int PortEngine::writeBufferSize(int option, std::int32_t& stored, std::int64_t value) {
    stored = static_cast<std::int32_t>(value);
    if (socket_ == kInvalidSocket ||
        ws().setsockopt(socket_, SOL_SOCKET, option, asBytes(stored), sizeof stored) == 0) {
        return kPortOk;
    }
    return lastSocketError();
}

int PortEngine::writeWinsockLoaded(bool on) {
    if (on) {
        if (!libraryHeld_) {
            libraryHeld_ = takeLibraryReference();
        }
        return kPortOk;
    }
    if (!libraryHeld_) {
        return kPortOk;
    }
    if (socket_ != kInvalidSocket) {
        // The connection cannot outlive the library: it is closed first, at once and with its
        // event, even from inside a receive event.
        pumpRunning_ = false;
        closePending_ = false;
        try {
            close(0, false);
        } catch (...) {
            closeWithoutEvent();
            releaseLibraryReference();
            libraryHeld_ = false;
            throw;
        }
        closeWithoutEvent();
    }
    releaseLibraryReference();
    libraryHeld_ = false;
    return kPortOk;
}

std::uint16_t PortEngine::boundPort() noexcept {
    SocketAddress address{};
    int length = sizeof address;
    if (ws().getsockname(socket_, &address.any, &length) != 0) {
        return 0;
    }
    return ws().ntohs_(address.any.sa_family == AF_INET6 ? address.v6.sin6_port
                                                         : address.v4.sin_port);
}

// An address as text: IPv4 dotted, IPv6 in its usual short form (with its zone, if any).
std::string_view PortEngine::addressText(const SocketAddress& address) noexcept {
    if (address.any.sa_family == AF_INET) {
        const char* text = ws().inet_ntoa(address.v4.sin_addr);
        return text != nullptr ? std::string_view(text) : std::string_view();
    }
    if (ws().getnameinfo(&address.any, addressLength(address), remoteText_.data(),
                         static_cast<int>(remoteText_.size()), nullptr, 0, NI_NUMERICHOST) != 0) {
        return {};
    }
    return remoteText_.data();
}

const char* PortEngine::localHost() noexcept {
    if (connected_) {
        SocketAddress address{};
        int length = sizeof address;
        if (ws().getsockname(socket_, &address.any, &length) == 0) {
            if (const std::string_view text = addressText(address); !text.empty()) {
                copyText(localName_, text);
                return localName_.data();
            }
        }
    }
    return WindowSocketEngine::localHost();
}

// ---------------------------------------------------------------- resolve, connect, send

namespace {

bool isUnspecified(const SocketAddress& address) noexcept {
    return address.any.sa_family == AF_INET ? address.v4.sin_addr.s_addr == 0
                                            : IN6_IS_ADDR_UNSPECIFIED(&address.v6.sin6_addr);
}

bool sameAddress(const SocketAddress& a, const SocketAddress& b) noexcept {
    return addressLength(a) == addressLength(b) &&
           std::memcmp(&a, &b, static_cast<std::size_t>(addressLength(a))) == 0;
}

} // namespace

int PortEngine::resolve(const char* host) {
    clearLastError();
    if (socket_ != kInvalidSocket) {
        return kRemoteHostBusy;
    }
    const std::string_view text = host != nullptr ? std::string_view(host) : std::string_view();
    remoteAddresses_.clear();
    currentAddress_ = 0;
    try {
        remoteHostName_.assign(text);
        remoteAddresses_.reserve(1);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    if (text.empty()) {
        return kPortOk;
    }
    if (ws().WSAIsBlocking() != 0) {
        ws().WSACancelBlockingCall();
    }
    // Dotted IPv4 text as the library has always parsed it; 0.0.0.0 is no address.
    if (const std::uint32_t address = ws().inet_addr(host); address != kNoAddress) {
        if (address != 0) {
            SocketAddress v4{};
            v4.v4.sin_family = AF_INET;
            v4.v4.sin_addr.s_addr = address;
            remoteAddresses_.push_back(v4); // room reserved above
        }
        return kPortOk;
    }
    // An address in square brackets ([::1]) must be just that; anything else may be a name.
    const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = bracketed ? AI_NUMERICHOST : 0;
    addrinfo* list = nullptr;
    int error = kPortOk;
    try {
        const std::string node(bracketed ? text.substr(1, text.size() - 2) : text);
        error = ws().getaddrinfo(node.c_str(), nullptr, &hints, &list);
        for (const addrinfo* ai = list; error == kPortOk && ai != nullptr; ai = ai->ai_next) {
            SocketAddress address{};
            if (ai->ai_addr == nullptr || (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
                ai->ai_addrlen > sizeof address) {
                continue;
            }
            std::memcpy(&address, ai->ai_addr, ai->ai_addrlen);
            const auto known = [&](const SocketAddress& a) {
                return sameAddress(a, address);
            };
            if (!isUnspecified(address) &&
                std::none_of(remoteAddresses_.begin(), remoteAddresses_.end(), known)) {
                remoteAddresses_.push_back(address);
            }
        }
    } catch (const std::bad_alloc&) {
        remoteAddresses_.clear();
        error = kOutOfMemory;
    }
    ws().freeaddrinfo(list);
    // Without the library nothing resolves; the connect then reports the empty address.
    return error == kWsaNotInitialised ? kPortOk : error;
}

int PortEngine::connect() {
    clearLastError();
    if (socket_ != kInvalidSocket) {
        return kAlreadyConnected;
    }
    closePending_ = false;
    buffer_.clear();
    if (remoteAddresses_.empty()) {
        return kRemoteAddressInvalid;
    }
    if (remotePort_ == 0) {
        return kRemotePortZero;
    }
    connected_ = false;
    tlsReadingPaused_ = false;
    tlsSendRefused_ = false;
    if (useTls_) {
        if (const int error = startTls(); error != kPortOk) {
            return error;
        }
    }
    // The addresses in turn, until one starts connecting; if none can, the last one's error.
    int error = kPortOk;
    for (std::size_t i = 0; i < remoteAddresses_.size(); ++i) {
        currentAddress_ = i;
        Socket s = kInvalidSocket;
        error = startAttempt(i, s);
        if (error == kPortOk) {
            socket_ = s;
            return kPortOk;
        }
    }
    tls_.reset();
    return error;
}

// The session for the connection about to start; it checks the certificate against the remote
// host as it was written.
int PortEngine::startTls() {
    int error = kTlsSetupFailed;
    std::shared_ptr<TlsContext> context = TlsContext::client(tlsCAFile_, error);
    if (context) {
        tls_ = TlsSession::client(std::move(context), remoteHostName_, error);
    }
    return tls_ ? kPortOk : error;
}

// Starts connecting to one of the addresses; a socket that fails on the way is closed again.
int PortEngine::startAttempt(std::size_t index, Socket& started) {
    SocketAddress remote = remoteAddresses_[index];
    const bool v6 = remote.any.sa_family == AF_INET6;
    const Socket s = ws().socket(remote.any.sa_family, SOCK_STREAM, 0);
    if (s == kInvalidSocket) {
        return lastSocketError();
    }
    const auto failWith = [s](int error) {
        ws().closesocket(s);
        return error;
    };

    SocketAddress local{};
    local.any.sa_family = remote.any.sa_family; // the any-address of the family
    (v6 ? local.v6.sin6_port : local.v4.sin_port) = ws().htons_(localPort_);
    if (ws().bind(s, &local.any, addressLength(local)) != 0) {
        return failWith(lastSocketError());
    }

    // Options; a refused one does not stop the connect.
    const int keepAlive = keepAlive_ ? 1 : 0;
    ws().setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, asBytes(keepAlive), sizeof keepAlive);
    linger lingerValue{};
    lingerValue.l_onoff = linger_ ? 0 : 1;
    ws().setsockopt(s, SOL_SOCKET, SO_LINGER, asBytes(lingerValue), sizeof lingerValue);
    ws().setsockopt(s, SOL_SOCKET, SO_RCVBUF, asBytes(inBufferSize_), sizeof inBufferSize_);
    ws().setsockopt(s, SOL_SOCKET, SO_SNDBUF, asBytes(outBufferSize_), sizeof outBufferSize_);
    const int inlineOob = 1;
    ws().setsockopt(s, SOL_SOCKET, SO_OOBINLINE, asBytes(inlineOob), sizeof inlineOob);
    if (index + 1 < remoteAddresses_.size()) {
        // Other addresses wait: one that never answers is given up after about 7 s (two
        // retries) instead of the system's two minutes, so that they get their turn in a send.
        const int retries = 2;
        ws().setsockopt(s, IPPROTO_TCP, TCP_SYNCNT, asBytes(retries), sizeof retries);
    }

    if (ws().WSAAsyncSelect(s, window_.get(), kSocketMessage, kPortEvents) != 0) {
        return failWith(lastSocketError());
    }

    (v6 ? remote.v6.sin6_port : remote.v4.sin_port) = ws().htons_(remotePort_);
    if (ws().connect(s, &remote.any, addressLength(remote)) != 0) {
        const int error = lastSocketError();
        if (error != kWsaEWouldBlock) {
            return failWith(error);
        }
    }
    started = s;
    return kPortOk;
}

// After a failed attempt, starts connecting to the next address that can be tried, and closes
// the failed socket without an event. False when none is left; `error` is then the last
// address's, and the failed socket stays for the report.
bool PortEngine::tryNextAddress(int& error) {
    while (currentAddress_ + 1 < remoteAddresses_.size()) {
        ++currentAddress_;
        Socket next = kInvalidSocket;
        const int result = startAttempt(currentAddress_, next);
        if (result == kPortOk) {
            discardSocket(); // the session waits for the next address
            socket_ = next;
            return true;
        }
        error = result;
    }
    return false;
}

int PortEngine::send(std::string_view bytes) {
    clearLastError();
    if (!connected_) {
        ws().WSASetLastError(kWsaENotConn);
        return kWsaENotConn;
    }
    if (bytes.empty()) {
        return kPortOk;
    }
    if (tls_) {
        return sendSecurely(bytes);
    }
    const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int sent = ws().send(socket_, bytes.data(), length, 0);
    if (sent == kSocketError) {
        bytesSent_ = 0;
        return lastSocketError();
    }
    bytesSent_ = sent;
    sentSinceRead_ = true;
    if (static_cast<std::size_t>(sent) < bytes.size()) {
        // No send queue: the rest is the caller's to send again after OnReadyToSend.
        ws().WSASetLastError(kWsaEWouldBlock);
        return kWsaEWouldBlock;
    }
    return kPortOk;
}

// With TLS the bytes are taken whole, as ciphertext that the socket takes when it can; a send
// is refused only while too much of it waits.
int PortEngine::sendSecurely(std::string_view bytes) {
    bytesSent_ = 0;
    if (tls_->outgoing().size() > kTlsSendQueueLimit) {
        tlsSendRefused_ = true;
        ws().WSASetLastError(kWsaEWouldBlock);
        return kWsaEWouldBlock;
    }
    if (!tls_->write(bytes)) {
        return tls_->state() == TlsSession::State::Failed ? tls_->failure() : kTlsProtocolError;
    }
    if (const int error = flushTls(); error != kPortOk) {
        return error;
    }
    bytesSent_ = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    return kPortOk;
}

// Hands the session's outgoing bytes to the socket until it takes no more; 0 or a socket error.
int PortEngine::flushTls() noexcept {
    while (tls_) {
        const std::string_view out = tls_->outgoing();
        if (out.empty()) {
            break;
        }
        const int length = static_cast<int>(std::min<std::size_t>(out.size(), INT_MAX));
        const int sent = ws().send(socket_, out.data(), length, 0);
        if (sent == kSocketError) {
            const int error = lastSocketError();
            return error == kWsaEWouldBlock ? kPortOk : error;
        }
        tls_->sent(static_cast<std::size_t>(sent));
    }
    return kPortOk;
}

// An orderly end of an open secure connection tells the peer so, where the socket takes it.
void PortEngine::sendCloseNotify() noexcept {
    if (tls_ && connected_ && !handshaking_) {
        tls_->close();
        flushTls();
    }
}

// Whether `reads` socket reads are a read notification's share.
bool PortEngine::shareRead(int reads) const noexcept {
    if (readsPerNotification_ <= 0) {
        return false;
    }
    return reads >= (tls_ ? std::min(readsPerNotification_, kTlsReadsPerNotification)
                          : readsPerNotification_);
}

// Whether the session's records for the peer are over their limit: then nothing more is read
// (a peer's records may each make the session answer) until the socket has taken some.
bool PortEngine::tlsReadingHeld() noexcept {
    if (tls_ && tls_->outgoing().size() > kTlsSendQueueLimit) {
        tlsReadingPaused_ = true;
    }
    return tlsReadingPaused_;
}

// A read for the receive pump: the socket's bytes, or with TLS the data they carry (0 at the
// peer's close_notify or the end of the stream). `reads` counts the socket reads. When
// `bounded`, none is made once they are a notification's share, nor with TLS while reading is
// held: the answer is then "would block". The library notifies again after a socket read
// while data remains, behind everything that waits now (timers, input, repaints, signals,
// messages); TLS hands out all the data it has taken off the socket first, so that none waits
// where no notification sees it. The write notification resumes held reading.
int PortEngine::receive(Socket s, std::span<char> space, int& reads, bool bounded) {
    const int size = static_cast<int>(std::min<std::size_t>(space.size(), INT_MAX));
    for (;;) {
        if (tls_) {
            const int n = tls_->read(space.data(), static_cast<std::size_t>(size));
            flushTls(); // what reading made the session answer, if anything
            if (n > 0) {
                return n;
            }
            if (n == TlsSession::kPeerClosed) {
                return 0;
            }
            if (n == TlsSession::kFailed) {
                ws().WSASetLastError(tls_->failure());
                return kSocketError;
            }
        }
        if (bounded && (shareRead(reads) || tlsReadingHeld())) {
            ws().WSASetLastError(kWsaEWouldBlock);
            return kSocketError;
        }
        ++reads;
        if (!tls_) {
            return ws().recv(s, space.data(), size, 0);
        }
        const int capacity =
            static_cast<int>(std::min<std::size_t>(tls_->incomingCapacity(), INT_MAX));
        const int got = ws().recv(s, tls_->incomingSpace(), capacity, 0);
        if (got <= 0) {
            return got;
        }
        tls_->incomingWritten(static_cast<std::size_t>(got));
    }
}

// ---------------------------------------------------------------- close

void PortEngine::resetConnectionState() noexcept {
    connected_ = false;
    bytesSent_ = 0;
    pumpRunning_ = false;
}

void PortEngine::closeWithoutEvent() noexcept {
    discardSocket();
    tls_.reset();
    handshaking_ = false;
    tlsReadingPaused_ = false;
    tlsSendRefused_ = false;
}

void PortEngine::discardSocket() noexcept {
    if (socket_ != kInvalidSocket) {
        const Socket s = socket_;
        socket_ = kInvalidSocket;
        ws().WSAAsyncSelect(s, window_.get(), 0, 0);
        ws().closesocket(s);
    }
    resetConnectionState();
}

int PortEngine::close(int status, bool byOwner) {
    if (byOwner) {
        clearLastError();
    }
    if (socket_ == kInvalidSocket) {
        resetConnectionState();
        return kPortOk;
    }
    const Socket s = socket_;
    ws().WSAAsyncSelect(s, window_.get(), 0, 0);
    if (pumpRunning_) {
        // Requested from inside a receive event: the pump closes once the handler returns.
        closePending_ = true;
        return kPortOk;
    }
    try {
        runPump(PumpMode::Flush);
    } catch (...) {
        closeAfterException(status, s);
        throw;
    }
    if (socket_ != s) {
        return kPortOk; // a handler of the flush has closed it already
    }
    return finishClose(status);
}

int PortEngine::finishClose(int status) {
    sendCloseNotify();
    const Socket s = socket_;
    socket_ = kInvalidSocket;
    const int error = ws().closesocket(s) != 0 ? lastSocketError() : kPortOk;
    tls_.reset();
    handshaking_ = false;
    tlsReadingPaused_ = false;
    tlsSendRefused_ = false;
    connected_ = false;
    try {
        reportClose(status);
    } catch (...) {
        resetConnectionState();
        throw;
    }
    resetConnectionState();
    return error;
}

// The handler that threw asked for (or was part of) a close of this socket: finish it, so that
// the connection does not stay half closed. A second exception cannot be passed on as well.
void PortEngine::closeAfterException(int status, Socket s) noexcept {
    try {
        if (socket_ == s) {
            pumpRunning_ = false;
            close(status, false);
        }
    } catch (...) {
        if (socket_ == s) {
            closeWithoutEvent();
        }
        exceptionLost(std::current_exception());
    }
}

// ---------------------------------------------------------------- notifications

long PortEngine::windowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message != kSocketMessage || socket_ == kInvalidSocket || wParam != socket_) {
        // Not ours, or a notification of a socket that has been closed since.
        return WindowSocketEngine::windowMessage(message, wParam, lParam);
    }
    switch (selectEvent(lParam)) {
    case kFdRead:
        if (handshaking_) {
            continueHandshake();
        } else {
            onReceive();
        }
        break;
    case kFdWrite:
        if (tls_) {
            onTlsWritable();
        } else {
            readyToSendEvent();
        }
        break;
    case kFdConnect:
        onConnectCompletion(selectError(lParam));
        break;
    case kFdClose:
        if (handshaking_) {
            continueHandshake(true); // reads what came before the close, then finds the end
            if (handshaking_ && socket_ == wParam) {
                endHandshake(handshakeBroken(selectError(lParam)));
            }
        } else {
            onPeerClose(selectError(lParam));
        }
        break;
    default:
        break;
    }
    return 0;
}

void PortEngine::onReceive() {
    if (pumpRunning_) {
        return; // a handler of the running pump is in a message loop
    }
    const Socket s = socket_;
    pumpRunning_ = true;
    try {
        runPump(PumpMode::Normal);
    } catch (...) {
        pumpRunning_ = false;
        if (socket_ == s) {
            if (closePending_) {
                closeAfterException(0, s);
            } else if (buffer_.count() > 0) {
                // Lines after the one whose handler failed are still delivered, later.
                postMessage(window_.get(), kSocketMessage, s, makeSelectReply(kFdRead, 0));
            }
        }
        throw;
    }
    pumpRunning_ = false;
}

void PortEngine::onConnectCompletion(int error) {
    if (error != 0 && tryNextAddress(error)) {
        return; // the next address is being tried
    }
    if (error == 0 && tls_) {
        // Connected, but not yet securely: the handshake decides what OnConnected says.
        handshaking_ = true;
        continueHandshake();
        return;
    }
    completeConnect(error);
}

void PortEngine::completeConnect(int status) {
    const Socket s = socket_;
    connected_ = true;
    const int inlineOob = 1;
    ws().setsockopt(s, SOL_SOCKET, SO_OOBINLINE, asBytes(inlineOob), sizeof inlineOob);
    try {
        reportConnectCompletion(status);
    } catch (...) {
        if (status != 0 && socket_ == s) {
            closeWithoutEvent();
        }
        throw;
    }
    // A failed connect leaves no socket; unless the handler has closed it (or even connected
    // anew), it goes without an event.
    if (status != 0 && socket_ == s) {
        closeWithoutEvent();
    }
}

// ---------------------------------------------------------------- the TLS handshake

// Runs the handshake as far as what the peer has sent allows: on the connect notification, and
// on every read notification until it is done. Like the receive pump, it reads the socket at
// most a notification's share of times, and not while the session's records wait beyond their
// limit; draining (after the close notification) it reads what is left.
void PortEngine::continueHandshake(bool draining) {
    const Socket s = socket_;
    int reads = 0;
    for (;;) {
        const TlsSession::State state = tls_->handshake();
        const int sendError = flushTls();
        if (state == TlsSession::State::Failed) {
            endHandshake(tls_->failure());
            return;
        }
        if (sendError != kPortOk) {
            endHandshake(handshakeBroken(sendError));
            return;
        }
        if (state == TlsSession::State::Open) {
            endHandshake(0);
            return;
        }
        if (!draining && (shareRead(reads) || tlsReadingHeld())) {
            return;
        }
        const int capacity =
            static_cast<int>(std::min<std::size_t>(tls_->incomingCapacity(), INT_MAX));
        const int got = ws().recv(s, tls_->incomingSpace(), capacity, 0);
        ++reads;
        if (got > 0) {
            tls_->incomingWritten(static_cast<std::size_t>(got));
            continue;
        }
        const int error = got == 0 ? 0 : lastSocketError();
        if (error != kWsaEWouldBlock) {
            endHandshake(handshakeBroken(error));
        }
        return;
    }
}

// The end of the connect: OnConnected with the handshake's outcome, and on success the
// readiness to send and whatever data came with the handshake's last records.
void PortEngine::endHandshake(int status) {
    handshaking_ = false;
    if (status != 0) {
        completeConnect(status);
        return;
    }
    const Socket s = socket_;
    completeConnect(0);
    if (socket_ != s || !connected_) {
        return;
    }
    readyToSendEvent();
    if (socket_ == s && tls_ && tls_->hasBufferedInput()) {
        postMessage(window_.get(), kSocketMessage, s, makeSelectReply(kFdRead, 0));
    }
}

// The socket takes records again. OnReadyToSend follows a refused send once they have all gone,
// as without TLS; the connect's write notification has its answer with the handshake's end.
void PortEngine::onTlsWritable() {
    const int error = flushTls();
    if (error == kPortOk && tlsReadingPaused_ && tls_->outgoing().size() <= kTlsSendQueueLimit) {
        // The socket has taken enough: read again, as a read notification would.
        tlsReadingPaused_ = false;
        postMessage(window_.get(), kSocketMessage, socket_, makeSelectReply(kFdRead, 0));
    }
    if (handshaking_) {
        if (error != kPortOk) {
            endHandshake(handshakeBroken(error));
        }
        return;
    }
    if (tlsSendRefused_ && error == kPortOk && connected_ && tls_->outgoing().empty()) {
        tlsSendRefused_ = false;
        readyToSendEvent();
    }
}

void PortEngine::onPeerClose(int error) {
    const Socket s = socket_;
    try {
        runPump(PumpMode::Drain);
    } catch (...) {
        closeAfterException(error, s);
        throw;
    }
    if (socket_ == s) {
        close(error, false);
    }
}

// ---------------------------------------------------------------- the receive pump

void PortEngine::deliver(const LineBuffer::Piece& piece, bool lineComplete) {
    dataInEvent(piece.bytes, piece.length, lineComplete);
}

// Every complete line; false when the socket went away meanwhile (closed by a handler).
bool PortEngine::deliverLines() {
    const Socket s = socket_;
    LineBuffer::Piece piece;
    while (socket_ == s && buffer_.nextLine(piece)) {
        deliver(piece, true);
    }
    return socket_ == s;
}

// All pending bytes as one partial line, if there are any.
bool PortEngine::deliverRemainder() {
    const Socket s = socket_;
    const LineBuffer::Piece piece = buffer_.takeAll();
    if (piece.length > 0) {
        deliver(piece, false);
    }
    return socket_ == s;
}

void PortEngine::runPump(PumpMode mode) {
    const Socket s = socket_;
    int reads = 0;
    bool lastReadShort = false; // this pump's last read emptied the socket
    while (s != kInvalidSocket && socket_ == s) {
        if (!deliverLines()) {
            return;
        }
        if (buffer_.full()) {
            if (!deliverRemainder()) {
                return;
            }
            continue;
        }
        if (mode == PumpMode::Normal && closePending_) {
            pumpRunning_ = false;
            close(0, false);
            return;
        }
        if (mode == PumpMode::Normal && !tls_ && lastReadShort && sentSinceRead_) {
            // The last read emptied the socket and a handler has sent since: a request is out,
            // and its answer has not come yet unless the peer was quicker than that read. Its
            // read notification will tell; a read now would mostly find nothing, and a system
            // call is the dearest part of a reply.
            return;
        }
        // A close by the owner reads no further: what is not buffered yet is not delivered.
        int received = 0;
        if (mode != PumpMode::Flush) {
            const std::span<char> space = buffer_.freeSpace();
            received = receive(s, space, reads, mode == PumpMode::Normal);
            sentSinceRead_ = false;
            lastReadShort = received > 0 && static_cast<std::size_t>(received) < space.size();
        }
        if (received == 0 || mode != PumpMode::Normal) {
            if (received > 0) {
                // Drain: this read's bytes follow the pending ones, in order.
                buffer_.commit(static_cast<std::size_t>(received));
            }
            if (!deliverLines() || !deliverRemainder()) {
                return;
            }
            if (mode == PumpMode::Flush) {
                return;
            }
            if (received == 0) {
                pumpRunning_ = false;
                close(0, false);
                return;
            }
        }
        if (received < 0) {
            const int error = lastSocketError();
            if (error != kWsaEWouldBlock && error != kWsaENotSock) {
                ErrorTextArea text;
                const char* description = "Winsock error in recv()";
                if (isTlsError(error)) {
                    formatErrorText(error, text); // not the socket's: say what it was
                    description = text.data();
                }
                errorEvent(static_cast<std::uint16_t>(error), description);
                if (mode == PumpMode::Normal && closePending_ && socket_ == s) {
                    pumpRunning_ = false;
                    close(0, false);
                }
            }
            return;
        }
        if (mode == PumpMode::Normal) {
            buffer_.commit(static_cast<std::size_t>(received));
        }
    }
}

// ---------------------------------------------------------------- event operations

void PortEngine::reportConnectCompletion(int status) {
    ErrorTextArea text;
    const char* description = "OK";
    if (status != 0) {
        formatErrorText(status, text);
        description = text.data();
    }
    connectedEvent(static_cast<std::uint16_t>(status), description);
}

void PortEngine::reportClose(int status) {
    ErrorTextArea text;
    const char* description = "OK";
    if (status != 0) {
        formatErrorText(status, text);
        description = text.data();
    }
    disconnectedEvent(static_cast<std::uint16_t>(status), description);
}

void PortEngine::connectedEvent(std::uint16_t, const char*) {}
void PortEngine::dataInEvent(const char*, std::uint16_t, bool) {}
void PortEngine::disconnectedEvent(std::uint16_t, const char*) {}
void PortEngine::errorEvent(std::uint16_t, const char*) {}
void PortEngine::readyToSendEvent() {}

// ---------------------------------------------------------------- the component-bound engine

std::unique_ptr<BoundPortEngine> BoundPortEngine::create(EngineOwner& owner,
                                                         EventLoop* loop) noexcept {
    std::unique_ptr<BoundPortEngine> engine(new (std::nothrow) BoundPortEngine(owner));
    if (!engine) {
        return nullptr;
    }
    engine->EngineErrorHolder::initialise();
    if (!engine->createWindow(loop)) {
        return nullptr;
    }
    engine->initialise();
    if (!engine->allocateBuffer()) {
        return nullptr;
    }
    return engine;
}

void BoundPortEngine::connectedEvent(std::uint16_t status, const char* description) {
    owner_.engineEvent({EngineEvent::Connected, status, description, 0, false});
}

void BoundPortEngine::dataInEvent(const char* bytes, std::uint16_t length, bool lineComplete) {
    owner_.engineEvent({EngineEvent::DataIn, 0, bytes, length, lineComplete});
}

void BoundPortEngine::disconnectedEvent(std::uint16_t status, const char* description) {
    owner_.engineEvent({EngineEvent::Disconnected, status, description, 0, false});
}

void BoundPortEngine::errorEvent(std::uint16_t code, const char* description) {
    owner_.engineEvent({EngineEvent::Error, code, description, 0, false});
}

void BoundPortEngine::readyToSendEvent() {
    owner_.engineEvent({EngineEvent::ReadyToSend, 0, "", 0, false});
}

void BoundPortEngine::exceptionLost(std::exception_ptr error) noexcept {
    owner_.engineExceptionLost(error);
}

} // namespace dazoroz::net
