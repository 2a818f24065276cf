#pragma once

// TLS over any byte stream, with OpenSSL 3 working on memory buffers: the owner reads the peer's
// bytes from its socket and puts them in, and takes the bytes to send out and writes them to its
// socket, whenever the socket is ready. Nothing here touches a socket or blocks, so the handshake
// runs on the same readiness notifications as everything else. One session per connection;
// contexts hold what sessions share (the trusted CAs, or the server's certificate and key).
//
// TLS 1.2 or newer only. A client verifies the server's certificate against the trusted CAs and
// against the server name exactly as the user gave it; nothing turns that off. Failures are the
// TLS codes of error_texts.h.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <openssl/types.h>

namespace dazoroz::net {

class TlsContext {
public:
    // Trusting the system's CAs (caFile empty) or only those of caFile (PEM). Nothing, and the
    // code in `error`, when it cannot be made.
    static std::shared_ptr<TlsContext> client(const std::string& caFile, int& error) noexcept;
    // Presenting the certificate chain of certFile (PEM, ours first) with the key of keyFile.
    static std::shared_ptr<TlsContext> server(const std::string& certFile,
                                              const std::string& keyFile, int& error) noexcept;
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    bool isServer() const noexcept { return server_; }

private:
    TlsContext(SSL_CTX* context, bool server) noexcept;
    // Owns the context from here on, also when it fails.
    static std::shared_ptr<TlsContext> adopt(SSL_CTX* context, bool server, int& error) noexcept;
    friend class TlsSession;
    SSL_CTX* context_;
    bool server_;
};

class TlsSession {
public:
    enum class State { Handshaking, Open, Closed, Failed };
    // What read() answers besides a byte count.
    static constexpr int kNeedsInput = 0;
    static constexpr int kPeerClosed = -1; // the peer's close_notify: no more data
    static constexpr int kFailed = -2;     // see failure()

    // A client session for the server as the user named it: a host name (checked against the
    // certificate and sent as SNI), or an IPv4 or IPv6 address, brackets allowed.
    static std::unique_ptr<TlsSession> client(std::shared_ptr<TlsContext> context,
                                              std::string_view serverName, int& error) noexcept;
    static std::unique_ptr<TlsSession> server(std::shared_ptr<TlsContext> context,
                                              int& error) noexcept;
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    State state() const noexcept { return state_; }
    // The TLS code of a failed session.
    int failure() const noexcept { return failure_; }

    // Where the owner reads the peer's bytes into, and how many it put there.
    char* incomingSpace() noexcept { return incoming_.data(); }
    std::size_t incomingCapacity() const noexcept { return incoming_.size(); }
    void incomingWritten(std::size_t n) noexcept;
    // The same for bytes that are somewhere else.
    void putIncoming(const char* bytes, std::size_t n) noexcept;

    // Moves the handshake on with what has come in: Open once it is done, Failed when it fails,
    // Handshaking while it needs more from the peer.
    State handshake() noexcept;
    // Received data: a byte count, kNeedsInput, kPeerClosed or kFailed. Runs the handshake first
    // while it is not done.
    int read(char* into, std::size_t size) noexcept;
    // Whether data or records have come in that read() has not handed out yet.
    bool hasBufferedInput() const noexcept;
    // Data to send; kept until the handshake is done. False when the session cannot send.
    bool write(std::string_view bytes) noexcept;
    // Ends an open session with a close_notify.
    void close() noexcept;

    // The bytes for the peer, and how many of them the owner got out.
    std::string_view outgoing() const noexcept {
        return std::string_view(outgoing_).substr(outgoingSent_);
    }
    void sent(std::size_t n) noexcept;
    // Outgoing bytes and data held back for the handshake.
    std::size_t pendingBytes() const noexcept {
        return outgoing_.size() - outgoingSent_ + heldBack_.size();
    }

    // Sessions and contexts alive in this process (tests check that none leak).
    static std::size_t liveObjects() noexcept;

private:
    TlsSession(std::shared_ptr<TlsContext> context, SSL* ssl, BIO* in, BIO* out);
    static std::unique_ptr<TlsSession> make(std::shared_ptr<TlsContext> context,
                                            int& error) noexcept;
    bool setServerName(std::string_view name) noexcept;
    void collectOutgoing() noexcept;
    void fail(int code) noexcept;
    int handshakeFailure() const noexcept;

    std::shared_ptr<TlsContext> context_;
    SSL* ssl_;
    BIO* in_;  // the peer's bytes, read by the library
    BIO* out_; // the library's bytes for the peer
    std::vector<char> incoming_;
    std::string outgoing_;
    std::size_t outgoingSent_ = 0;
    std::string heldBack_;
    State state_ = State::Handshaking;
    int failure_ = 0;
    bool peerClosed_ = false;
    bool starved_ = false;       // read() wants more from the peer than has come in
    bool firstByteSeen_ = false; // a TLS peer starts with a handshake or an alert record
};

} // namespace dazoroz::net
