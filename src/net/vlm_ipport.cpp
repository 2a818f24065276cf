#include "net/vlm_ipport.h"

#include "net/warnings.h"

#include <new>

namespace dazoroz::net {

TvlmIPPort::TvlmIPPort() : TvlmIPPort(EventLoop::current()) {}

TvlmIPPort::TvlmIPPort(EventLoop& loop) : TvlmIPPort(&loop) {}

TvlmIPPort::TvlmIPPort(EventLoop* loop) : engine_(BoundPortEngine::create(*this, loop)) {
    if (!engine_) {
        RaiseError(kCreateFailed, portResultText(kCreateFailed));
    }
    // The initial values, in this order.
    setEOL({});
    setInBufferSize(2048);
    setKeepAlive(false);
    setLinger(true);
    setLocalPort(0);
    setMaxLineLength(2048);
    setOutBufferSize(2048);
    setRemoteHost({});
    setRemotePort(0);
    setWinsockLoaded(true);
}

TvlmIPPort::~TvlmIPPort() {
    if (engine_ && engine_->pumpRunning()) {
        writeWarning("TCP port destroyed from inside one of its own events");
    }
}

std::exception_ptr TvlmIPPort::CreateError(int code, const std::string& message) const {
    return std::make_exception_ptr(EvlmIPPort(code, message));
}

void TvlmIPPort::check(int result) const {
    if (result != kPortOk) {
        RaiseError(result, engine_->lastErrorText());
    }
}

std::int64_t TvlmIPPort::readInteger(int property) const {
    return engine_->readInteger(property);
}

std::string TvlmIPPort::readText(int property) const {
    return std::string(engine_->readText(property));
}

void TvlmIPPort::writeInteger(int property, std::int64_t value) {
    check(engine_->writeInteger(property, value));
}

std::string TvlmIPPort::EOL() const {
    return readText(ppEOL);
}
void TvlmIPPort::setEOL(const std::string& terminator) {
    check(engine_->writeText(ppEOL, terminator.data(), terminator.size()));
}

std::int32_t TvlmIPPort::InBufferSize() const {
    return static_cast<std::int32_t>(readInteger(ppInBufferSize));
}
void TvlmIPPort::setInBufferSize(std::int32_t size) {
    writeInteger(ppInBufferSize, size);
}

bool TvlmIPPort::KeepAlive() const {
    return readInteger(ppKeepAlive) != 0;
}
void TvlmIPPort::setKeepAlive(bool on) {
    writeInteger(ppKeepAlive, on ? 1 : 0);
}

bool TvlmIPPort::Linger() const {
    return readInteger(ppLinger) != 0;
}
void TvlmIPPort::setLinger(bool on) {
    writeInteger(ppLinger, on ? 1 : 0);
}

std::string TvlmIPPort::LocalHost() const {
    return readText(ppLocalHost);
}

std::uint16_t TvlmIPPort::LocalPort() const {
    return static_cast<std::uint16_t>(readInteger(ppLocalPort));
}
void TvlmIPPort::setLocalPort(std::uint16_t port) {
    writeInteger(ppLocalPort, port);
}

std::uint32_t TvlmIPPort::MaxLineLength() const {
    return static_cast<std::uint32_t>(readInteger(ppMaxLineLength));
}
void TvlmIPPort::setMaxLineLength(std::uint32_t length) {
    writeInteger(ppMaxLineLength, length);
    try {
        text_.reserve(length);
    } catch (const std::bad_alloc&) {
        RaiseError(kOutOfMemory, portResultText(kOutOfMemory));
    }
}

std::int32_t TvlmIPPort::OutBufferSize() const {
    return static_cast<std::int32_t>(readInteger(ppOutBufferSize));
}
void TvlmIPPort::setOutBufferSize(std::int32_t size) {
    writeInteger(ppOutBufferSize, size);
}

std::string TvlmIPPort::RemoteHost() const {
    return readText(ppRemoteHost);
}
void TvlmIPPort::setRemoteHost(const std::string& host) {
    check(engine_->writeText(ppRemoteHost, host.c_str(), host.size()));
}

std::uint16_t TvlmIPPort::RemotePort() const {
    return static_cast<std::uint16_t>(readInteger(ppRemotePort));
}
void TvlmIPPort::setRemotePort(std::uint16_t port) {
    writeInteger(ppRemotePort, port);
}

std::string TvlmIPPort::WinsockInfo() const {
    return readText(ppWinsockInfo);
}
bool TvlmIPPort::WinsockLoaded() const {
    return readInteger(ppWinsockLoaded) != 0;
}
void TvlmIPPort::setWinsockLoaded(bool loaded) {
    writeInteger(ppWinsockLoaded, loaded ? 1 : 0);
}
std::string TvlmIPPort::WinsockStatus() const {
    return readText(ppWinsockStatus);
}

bool TvlmIPPort::UseTLS() const {
    return readInteger(ppUseTLS) != 0;
}
void TvlmIPPort::setUseTLS(bool on) {
    writeInteger(ppUseTLS, on ? 1 : 0);
}
std::string TvlmIPPort::TLSCAFile() const {
    return readText(ppTLSCAFile);
}
void TvlmIPPort::setTLSCAFile(const std::string& path) {
    check(engine_->writeText(ppTLSCAFile, path.data(), path.size()));
}

bool TvlmIPPort::Connected() const {
    return readInteger(ppConnected) != 0;
}
void TvlmIPPort::setConnected(bool connected) {
    writeInteger(ppConnected, connected ? 1 : 0);
}

void TvlmIPPort::setDataOut(const std::string& bytes) {
    check(engine_->writeText(ppDataOut, bytes.data(), bytes.size()));
}

void TvlmIPPort::engineEvent(const EngineEvent& event) {
    switch (event.number) {
    case EngineEvent::Connected:
        if (OnConnected) {
            OnConnected(*this, event.code, std::string(event.text));
        }
        break;
    case EngineEvent::DataIn:
        if (OnDataIn) {
            deliverText(event);
        }
        break;
    case EngineEvent::Disconnected:
        if (OnDisconnected) {
            OnDisconnected(*this, event.code, std::string(event.text));
        }
        break;
    case EngineEvent::Error:
        if (OnError) {
            OnError(*this, event.code, std::string(event.text));
        }
        break;
    case EngineEvent::ReadyToSend:
        if (OnReadyToSend) {
            OnReadyToSend(*this);
        }
        break;
    default:
        break;
    }
}

// A handler that has the port deliver more from inside it (a close delivers what is still
// buffered) gets those texts in strings of their own: its own text stays as it was.
void TvlmIPPort::deliverText(const EngineEvent& event) {
    if (textInUse_) {
        OnDataIn(*this, std::string(event.text, event.length), event.lineComplete);
        return;
    }
    text_.assign(event.text, event.length);
    textInUse_ = true;
    try {
        OnDataIn(*this, text_, event.lineComplete);
    } catch (...) {
        textInUse_ = false;
        throw;
    }
    textInUse_ = false;
}

void TvlmIPPort::engineExceptionLost(std::exception_ptr error) noexcept {
    if (OnUnhandledException) {
        try {
            OnUnhandledException(*this, error);
            return;
        } catch (...) {
            error = std::current_exception();
        }
    }
    warnLostException(error);
}

} // namespace dazoroz::net
