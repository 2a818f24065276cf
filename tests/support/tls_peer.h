#pragma once

// A TLS peer made with OpenSSL itself, for what our own TLS layer never does: offer an old
// protocol version, report the SNI it was sent, or send records without end that each make
// the other side answer. It works on memory buffers (put, take); the socket calls move its
// records over a blocking socket.

#include <QByteArray>

#include <memory>
#include <string>

#include <openssl/types.h>

namespace dazoroz::testsupport {

class TlsPeer {
public:
    // A server with this certificate chain and key, or a client that checks no certificate,
    // offering TLS versions up to maxVersion (0: the newest); below TLS 1.2 at the security
    // level that still allows them.
    static TlsPeer server(const std::string& certFile, const std::string& keyFile,
                          int maxVersion = 0);
    static TlsPeer client(int maxVersion = 0);

    // Memory: the other side's bytes in, this side's out; one step of the handshake (1: done,
    // 0: it needs more, -1: failed); the name a client asked a server for.
    void put(const QByteArray& bytes);
    QByteArray take();
    int handshakeStep();
    std::string serverName() const;

    // A blocking socket: false when the handshake fails or the socket does.
    bool handshake(int fd);
    bool send(int fd, const QByteArray& data);
    // The next line with its end; empty when the connection ends first.
    QByteArray readLine(int fd);
    // Records without data that the other side answers each, and no reading, until a send
    // fails: HelloRequest (from a TLS 1.2 server), KeyUpdate requests (TLS 1.3).
    enum class Records { HelloRequest, KeyUpdate };
    void flood(int fd, Records records);

private:
    explicit TlsPeer(SSL_CTX* context);
    std::shared_ptr<SSL> ssl_;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    QByteArray data_; // received, not yet returned by readLine
};

// A blocking socket connected to 127.0.0.1 at port, or -1; reads time out after 10 s.
int connectToLoopback(quint16 port);

} // namespace dazoroz::testsupport
