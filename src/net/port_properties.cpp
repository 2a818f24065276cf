// The port engine (port_engine.h): its numbered property interface.

#include "net/port_engine.h"
#include "net/port_engine_parts.h"

#include <cstdint>
#include <cstring>

namespace dazoroz::net {

using namespace engine_parts;

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

} // namespace dazoroz::net
