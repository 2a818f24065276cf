#pragma once

// The TCP client port: connects to a host and port, sends text, delivers what it receives as
// chunks or lines, and reports connection, disconnection and errors as events. It runs on an
// event loop (event_loop.h): the one given, or the current one of the thread that creates it.
// Every event fires on that thread from inside the loop's handling of socket notifications, or
// from inside a property write (a close fires OnDisconnected before setConnected(false)
// returns).
//
// Property writes that the port refuses throw EvlmIPPort (Code, "<code>: <description>").
// A handler may throw too: the port stays consistent (see PortEngine) and the exception goes to
// the caller of the property write, or, when the event came from the event loop, to
// OnUnhandledException (without one, a warning is written); it never reaches the event loop.
// Destroying the port from inside one of its own events is not supported; destroy it later,
// from a message posted to the loop or a timer.

#include "net/event_loop.h"
#include "net/port_engine.h"
#include "net/vlm_core.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dazoroz::net {

class TvlmIPPort : public TvlmCore, private EngineOwner {
public:
    // On the current event loop of the calling thread; without one the port cannot be created
    // (code -1).
    TvlmIPPort();
    explicit TvlmIPPort(EventLoop& loop);
    ~TvlmIPPort() override;
    TvlmIPPort(const TvlmIPPort&) = delete;
    TvlmIPPort& operator=(const TvlmIPPort&) = delete;

    std::exception_ptr CreateError(int code, const std::string& message) const override;

    // Published properties, in their published order.
    std::string EOL() const;
    void setEOL(const std::string& terminator);
    std::int32_t InBufferSize() const;
    void setInBufferSize(std::int32_t size);
    bool KeepAlive() const;
    void setKeepAlive(bool on);
    bool Linger() const;
    void setLinger(bool on);
    std::string LocalHost() const;
    void setLocalHost(const std::string&) {} // read-only: ignored
    std::uint16_t LocalPort() const;
    void setLocalPort(std::uint16_t port);
    std::uint32_t MaxLineLength() const;
    void setMaxLineLength(std::uint32_t length);
    std::int32_t OutBufferSize() const;
    void setOutBufferSize(std::int32_t size);
    std::string RemoteHost() const;
    void setRemoteHost(const std::string& host);
    std::uint16_t RemotePort() const;
    void setRemotePort(std::uint16_t port);
    std::string WinsockInfo() const;
    void setWinsockInfo(const std::string&) {} // read-only: ignored
    bool WinsockLoaded() const;
    void setWinsockLoaded(bool loaded);
    std::string WinsockStatus() const;
    void setWinsockStatus(const std::string&) {} // read-only: ignored

    // The secure connection (our own): with UseTLS, the connection speaks TLS from its first
    // byte, and OnConnected reports success only once the server's certificate has been
    // verified against the trusted CAs (the system's, or those of the PEM file TLSCAFile when it
    // is set) and against RemoteHost as it was written. Both are refused while a socket exists
    // (code 118).
    bool UseTLS() const;
    void setUseTLS(bool on);
    std::string TLSCAFile() const;
    void setTLSCAFile(const std::string& path);

    // Run-time properties.
    bool Connected() const;
    void setConnected(bool connected);
    void setDataOut(const std::string& bytes);

    // Events; an unassigned one is skipped. A handler must not assign its own event while it
    // runs (the running handler would be destroyed under it).
    std::function<void(TvlmIPPort& Sender, int StatusCode, const std::string& Description)>
        OnConnected;
    std::function<void(TvlmIPPort& Sender, const std::string& Text, bool EOL)> OnDataIn;
    std::function<void(TvlmIPPort& Sender, int StatusCode, const std::string& Description)>
        OnDisconnected;
    std::function<void(TvlmIPPort& Sender, int ErrorCode, const std::string& Description)> OnError;
    std::function<void(TvlmIPPort& Sender)> OnReadyToSend;

    // An exception from a handler that had nobody to go to (see above). Must not throw.
    std::function<void(TvlmIPPort& Sender, std::exception_ptr Error)> OnUnhandledException;

    // The engine underneath (tests look at its marks and post notifications to its window).
    PortEngine& engine() noexcept { return *engine_; }

private:
    explicit TvlmIPPort(EventLoop* loop);
    void engineEvent(const EngineEvent& event) override;
    void engineExceptionLost(std::exception_ptr error) noexcept override;
    void deliverText(const EngineEvent& event);
    void check(int result) const;
    std::int64_t readInteger(int property) const;
    std::string readText(int property) const;
    void writeInteger(int property, std::int64_t value);

    std::unique_ptr<BoundPortEngine> engine_;
    // OnDataIn's text, kept from one event to the next with room for the longest text the
    // receive buffer can hold, so that receiving allocates nothing.
    std::string text_;
    bool textInUse_ = false; // an OnDataIn handler runs
};

} // namespace dazoroz::net
