#include "net/port_engine.h"

#include "net/port_engine_parts.h"
#include "net/socket_library.h"
#include "net/warnings.h"

#include <new>
#include <string>

namespace dazoroz::net {

using namespace engine_parts;

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
    if (lastError_ != nullptr) {
        return;
    }
    // The port's own codes have fixed texts; the rest come from the error table.
    if (const char* fixed = portResultText(code); fixed != nullptr) {
        lastError_ = fixed;
        return;
    }
    formatErrorText(code, textArea_);
    lastError_ = textArea_.data();
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
