#include "support/tls_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace dazoroz::testsupport {

namespace {

SSL_CTX* newContext(const SSL_METHOD* method, int maxVersion) {
    SSL_CTX* context = SSL_CTX_new(method);
    if (maxVersion != 0) {
        SSL_CTX_set_max_proto_version(context, maxVersion);
        if (maxVersion < TLS1_2_VERSION) {
            SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
            SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
        }
    }
    return context;
}

bool sendAll(int fd, QByteArray bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t n =
            ::send(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes.remove(0, n);
    }
    return true;
}

} // namespace

TlsPeer::TlsPeer(SSL_CTX* context) : ssl_(SSL_new(context), SSL_free) {
    SSL_CTX_free(context); // the session holds its own reference
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_.get(), in_, out_);
}

TlsPeer TlsPeer::server(const std::string& certFile, const std::string& keyFile, int maxVersion) {
    SSL_CTX* context = newContext(TLS_server_method(), maxVersion);
    SSL_CTX_use_certificate_chain_file(context, certFile.c_str());
    SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM);
    TlsPeer peer(context);
    SSL_set_accept_state(peer.ssl_.get());
    return peer;
}

TlsPeer TlsPeer::client(int maxVersion) {
    TlsPeer peer(newContext(TLS_client_method(), maxVersion));
    SSL_set_connect_state(peer.ssl_.get());
    return peer;
}

void TlsPeer::put(const QByteArray& bytes) {
    BIO_write(in_, bytes.constData(), static_cast<int>(bytes.size()));
}

QByteArray TlsPeer::take() {
    QByteArray bytes(static_cast<qsizetype>(BIO_ctrl_pending(out_)), '\0');
    BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

int TlsPeer::handshakeStep() {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_.get());
    if (result == 1) {
        return 1;
    }
    return SSL_get_error(ssl_.get(), result) == SSL_ERROR_WANT_READ ? 0 : -1;
}

std::string TlsPeer::serverName() const {
    const char* name = SSL_get_servername(ssl_.get(), TLSEXT_NAMETYPE_host_name);
    return name != nullptr ? name : "";
}

bool TlsPeer::handshake(int fd) {
    for (;;) {
        const int step = handshakeStep();
        if (!sendAll(fd, take()) || step < 0) {
            return false;
        }
        if (step == 1) {
            return true;
        }
        char buffer[16384];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        put(QByteArray(buffer, n));
    }
}

bool TlsPeer::send(int fd, const QByteArray& data) {
    return SSL_write(ssl_.get(), data.constData(), static_cast<int>(data.size())) > 0 &&
           sendAll(fd, take());
}

QByteArray TlsPeer::readLine(int fd) {
    while (!data_.contains('\n')) {
        char buffer[16384];
        const int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (n > 0) {
            data_.append(buffer, n);
            continue;
        }
        const ssize_t got =
            SSL_get_error(ssl_.get(), n) == SSL_ERROR_WANT_READ && sendAll(fd, take())
                ? ::recv(fd, buffer, sizeof buffer, 0)
                : 0;
        if (got <= 0) {
            return {};
        }
        put(QByteArray(buffer, got));
    }
    const qsizetype end = data_.indexOf('\n') + 1;
    const QByteArray line = data_.left(end);
    data_.remove(0, end);
    return line;
}

void TlsPeer::flood(int fd, Records records) {
    SSL* ssl = ssl_.get();
    for (;;) {
        // Many records to a send, or the system calls would set the pace.
        for (int i = 0; i < 256; ++i) {
            const int asked = records == Records::HelloRequest
                                  ? SSL_renegotiate(ssl)
                                  : SSL_key_update(ssl, SSL_KEY_UPDATE_REQUESTED);
            if (asked != 1 || SSL_do_handshake(ssl) != 1) {
                return;
            }
        }
        if (!sendAll(fd, take())) {
            return;
        }
    }
}

int connectToLoopback(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const timeval limit{10, 0};
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

} // namespace dazoroz::testsupport
