#pragma once

// The engine under the TCP client port, in three layers: an error holder; a window socket that
// owns the notification window and a reference on the socket library; and the TCP port with its
// connect, send, receive and close algorithms, its numbered property interface and its five
// event operations. BoundPortEngine forwards the events to its owner through one callback.
//
// port_engine.cpp holds the layers, the set-up, the close, the notifications and the events;
// port_properties.cpp the numbered properties; port_connect.cpp resolving, connecting and
// sending; port_tls_handshake.cpp the TLS handshake; port_receive.cpp the receive pump.

#include "net/error_texts.h"
#include "net/line_buffer.h"
#include "net/notification_window.h"
#include "net/socket_api.h"
#include "net/tls_session.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dazoroz::net {

// Result codes of the port itself (all others are Windows-sockets codes).
enum PortResult : int {
    kPortOk = 0,
    kRemotePortBusy = 100,
    kRemoteHostBusy = 101,
    kRemoteAddressInvalid = 102,
    kAlreadyConnected = 104,
    kLocalPortBusy = 106,
    kMaxLineLengthBusy = 112,
    kMaxLineLengthRange = 113, // our own: a capacity that would not fit the 16-bit count
    kRemotePortZero = 116,
    kEolTooLong = 117, // our own: a terminator longer than a 16-bit length
    kTlsBusy = 118,    // our own: UseTLS or TLSCAFile written while a socket exists
    kOutOfMemory = 200,
    kCreateFailed = -1,
};

// How many reads one read notification makes at most (0: until the socket has nothing more).
// Then the pump gives the event loop back, and the next read notification comes behind the
// events already waiting, so that a peer that sends without pause cannot starve timers, input,
// repaints or signals. With 16, a large transfer is as fast as without a bound, within the
// measuring noise; with 1 it is 8-15% slower (bench_net_receive).
inline constexpr int kReadsPerNotification = 16;
// With TLS, one socket read is a notification's share: it may bring hundreds of small records
// (the peer's choice), each of which can cost the session a key derivation and an answer.
// One read is a whole record of data, or a few milliseconds of such work.
inline constexpr int kTlsReadsPerNotification = 1;

// Fixed description of a port result code, or nullptr for a socket error code.
const char* portResultText(int code) noexcept;

// Layer 1.
class EngineErrorHolder {
public:
    virtual ~EngineErrorHolder() = default;
    virtual void initialise() noexcept { clearLastError(); }

    // The description of the last failed operation; empty when there is none.
    const char* lastErrorText() const noexcept { return lastError_ ? lastError_ : ""; }

protected:
    void clearLastError() noexcept { lastError_ = nullptr; }
    // "Record a result", run after every numbered-property write.
    void recordResult(int code) noexcept;

    const char* lastError_ = nullptr;
    ErrorTextArea textArea_{};
};

// Layer 2.
class WindowSocketEngine : public EngineErrorHolder, protected WindowMessageTarget {
public:
    // Creates the notification window on the loop (false if none can be made) and takes the
    // library reference (whose failure leaves the engine working with the stubs).
    virtual bool createWindow(EventLoop* loop) noexcept;
    // Gives the reference back and destroys the window.
    virtual void destroy() noexcept;
    // This machine's name, or the formatted socket error text (at most 100 characters).
    virtual const char* localHost() noexcept;

    bool libraryHeld() const noexcept { return libraryHeld_; }
    WindowHandle window() const noexcept { return window_.get(); }

protected:
    long windowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void messageFailed(std::exception_ptr error) noexcept override { exceptionLost(error); }
    // An exception that could not be passed on to a caller; the default writes a warning.
    virtual void exceptionLost(std::exception_ptr error) noexcept;

    std::shared_ptr<NotificationWindow> window_;
    bool libraryHeld_ = false;
    std::array<char, 101> localName_{};
};

// Writes a warning about an exception from an event handler that had nowhere to go.
void warnLostException(std::exception_ptr error) noexcept;

// Property numbers of the numbered property interface.
enum PortProperty : int {
    ppConnected = 3,
    ppDataOut = 4,
    ppEOL = 5,
    ppInBufferSize = 6,
    ppKeepAlive = 7,
    ppLinger = 8,
    ppLocalHost = 9,
    ppLocalPort = 10,
    ppMaxLineLength = 11,
    ppOutBufferSize = 12,
    ppRemoteHost = 13,
    ppRemotePort = 14,
    ppWinsockInfo = 16,
    ppWinsockLoaded = 17,
    ppWinsockStatus = 21,
    // Our own: the secure connection.
    ppUseTLS = 30,
    ppTLSCAFile = 31,
};

// With TLS, ciphertext that the socket has not taken yet waits in the session; beyond this much,
// a send is refused (10035) until OnReadyToSend, and nothing more is read from the peer (whose
// records may each make the session answer) until the socket has taken some.
inline constexpr std::size_t kTlsSendQueueLimit = 64 * 1024;

// Layer 3: the TCP port. Its event operations do nothing; BoundPortEngine forwards them.
//
// Exceptions thrown by event handlers leave the engine consistent: the pump-running mark is
// cleared, a close that was requested or under way is completed (OnDisconnected included)
// before the exception goes on, and a failed connect still closes its socket. The exception then
// reaches whoever made the engine act: the caller of a property write, or the notification
// window, which hands it to messageFailed instead of letting it into the event loop.
class PortEngine : public WindowSocketEngine {
public:
    PortEngine() = default;
    ~PortEngine() override;
    PortEngine(const PortEngine&) = delete;
    PortEngine& operator=(const PortEngine&) = delete;

    void initialise() noexcept override; // also the port defaults (buffer not yet allocated)
    // The receive buffer at its default capacity; false when out of memory.
    bool allocateBuffer() noexcept;

    // The numbered property interface. Writes answer 0 or a result code, after which
    // lastErrorText() holds the description. Unknown numbers read 0 and refuse writes (10022).
    std::int64_t readInteger(int property) noexcept;
    std::string_view readText(int property) noexcept;
    int writeInteger(int property, std::int64_t value);
    // RemoteHost takes zero-terminated text (length ignored); EOL and DataOut take the bytes.
    int writeText(int property, const char* bytes, std::size_t length);

    const char* localHost() noexcept override;

    // Introspection for tests and for the component.
    Socket socket() const noexcept { return socket_; }
    bool pumpRunning() const noexcept { return pumpRunning_; }
    bool closePending() const noexcept { return closePending_; }
    const LineBuffer& buffer() const noexcept { return buffer_; }
    // The remote host as it was written, brackets and letter case kept.
    const std::string& remoteHostName() const noexcept { return remoteHostName_; }
    // The bound on reads per read notification (0: none); for benchmarks.
    void setReadsPerNotification(int reads) noexcept { readsPerNotification_ = reads; }
    // The TLS session of the connection, if it has one; for tests.
    const TlsSession* tlsSession() const noexcept { return tls_.get(); }

protected:
    long windowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Turn a status into its description and call the event operation.
    virtual void reportConnectCompletion(int status);
    virtual void reportClose(int status);
    // The five event operations.
    virtual void connectedEvent(std::uint16_t status, const char* description);
    virtual void dataInEvent(const char* bytes, std::uint16_t length, bool lineComplete);
    virtual void disconnectedEvent(std::uint16_t status, const char* description);
    virtual void errorEvent(std::uint16_t code, const char* description);
    virtual void readyToSendEvent();

private:
    enum class PumpMode { Normal, Drain, Flush };

    int resolve(const char* host);
    int connect();
    int startAttempt(std::size_t index, Socket& started);
    bool tryNextAddress(int& error);
    int send(std::string_view bytes);
    int sendSecurely(std::string_view bytes);
    int close(int status, bool byOwner);
    int finishClose(int status);
    void closeWithoutEvent() noexcept;
    void discardSocket() noexcept;
    void resetConnectionState() noexcept;

    void onReceive();
    void onConnectCompletion(int error);
    void completeConnect(int status);
    int startTls();
    void continueHandshake(bool draining = false);
    void endHandshake(int status);
    int flushTls() noexcept;
    void onTlsWritable();
    int receive(Socket s, std::span<char> space, int& reads, bool bounded);
    bool shareRead(int reads) const noexcept;
    bool tlsReadingHeld() noexcept;
    void sendCloseNotify() noexcept;
    void onPeerClose(int error);
    void runPump(PumpMode mode);
    bool deliverLines();
    bool deliverRemainder();
    void deliver(const LineBuffer::Piece& piece, bool lineComplete);
    void closeAfterException(int status, Socket socket) noexcept;

    int writeEol(std::string_view bytes);
    // LocalPort and RemotePort: refused with busyCode while a socket exists.
    int writePort(std::uint16_t& port, int busyCode, std::int64_t value);
    int writeMaxLineLength(std::int64_t value);
    int writeKeepAlive(bool on);
    int writeLinger(bool on);
    int writeBufferSize(int option, std::int32_t& stored, std::int64_t value);
    int writeWinsockLoaded(bool on);
    int writeCAFile(std::string_view path);
    int applyLinger(bool on) noexcept;
    std::uint16_t boundPort() noexcept;
    std::string_view addressText(const SocketAddress& address) noexcept;

    std::int32_t inBufferSize_ = 2048;
    std::int32_t outBufferSize_ = 2048;
    Socket socket_ = kInvalidSocket;
    // Every address the remote host's text gave, in the system's order (none: address 0), the
    // one in use or last tried, and the text as it was written (a certificate names it).
    std::vector<SocketAddress> remoteAddresses_;
    std::size_t currentAddress_ = 0;
    std::string remoteHostName_;
    std::array<char, 64> remoteText_{}; // an IPv6 address with its zone
    std::uint16_t remotePort_ = 0;
    std::uint16_t localPort_ = 0;
    int bytesSent_ = 0;
    bool sentSinceRead_ = false; // a send went out since the receive pump last read
    int readsPerNotification_ = kReadsPerNotification;
    LineBuffer buffer_;
    bool connected_ = false;
    bool pumpRunning_ = false;
    bool closePending_ = false;
    bool keepAlive_ = false;
    bool linger_ = true;
    // The secure connection: whether to use it, the CAs to trust instead of the system's, and
    // the session of the connection (from the connect request until the socket is closed).
    bool useTls_ = false;
    std::string tlsCAFile_;
    std::unique_ptr<TlsSession> tls_;
    bool handshaking_ = false;
    bool tlsReadingPaused_ = false; // until the socket takes the session's records for the peer
    bool tlsSendRefused_ = false;   // a send was refused: OnReadyToSend is due
};

// What the owner's callback receives; the numbers are those of the component's events.
struct EngineEvent {
    enum Number : int {
        Connected = 1,
        DataIn = 2,
        Disconnected = 3,
        Error = 4,
        ReadyToSend = 5,
    };
    int number;
    std::uint16_t code;   // 1, 3, 4
    const char* text;     // 1, 3, 4: the description; 2: the bytes
    std::uint16_t length; // 2
    bool lineComplete;    // 2
};

class EngineOwner {
public:
    virtual void engineEvent(const EngineEvent& event) = 0;
    virtual void engineExceptionLost(std::exception_ptr error) noexcept = 0;

protected:
    ~EngineOwner() = default;
};

class BoundPortEngine final : public PortEngine {
public:
    // The engine of a component: window on the loop, library reference, defaults and buffer;
    // nullptr when it cannot be created.
    static std::unique_ptr<BoundPortEngine> create(EngineOwner& owner, EventLoop* loop) noexcept;

protected:
    void connectedEvent(std::uint16_t status, const char* description) override;
    void dataInEvent(const char* bytes, std::uint16_t length, bool lineComplete) override;
    void disconnectedEvent(std::uint16_t status, const char* description) override;
    void errorEvent(std::uint16_t code, const char* description) override;
    void readyToSendEvent() override;
    void exceptionLost(std::exception_ptr error) noexcept override;

private:
    explicit BoundPortEngine(EngineOwner& owner) : owner_(owner) {}
    EngineOwner& owner_;
};

} // namespace dazoroz::net
