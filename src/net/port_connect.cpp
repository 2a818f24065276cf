// The port engine (port_engine.h): resolving the remote host, connecting to its addresses
// in turn, and sending.

#include "net/port_engine.h"
#include "net/port_engine_parts.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include <netinet/tcp.h>

namespace dazoroz::net {

using namespace engine_parts;

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

} // namespace dazoroz::net
