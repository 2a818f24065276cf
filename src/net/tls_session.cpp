#include "net/tls_session.h"

#include "net/error_texts.h"

#include "net/openssl_library.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>
#include <utility>

namespace dazoroz::net {

namespace {

std::atomic<std::size_t> g_liveObjects{0};

// Room for the largest record the peer may send, with its header and overhead.
constexpr std::size_t kIncomingSize = 17 * 1024;

// The first byte of any TLS stream is a record type: handshake (22) or alert (21).
constexpr int kAlertRecord = 0x15;
constexpr int kHandshakeRecord = 0x16;

// The library, loaded by the first context.
const OpenSslTable& api() noexcept {
    return *openSsl();
}

// The library's calls report through this thread's error queue, which must start empty. Clearing
// a queue that is empty already costs a thousand instructions; looking costs few.
void clearErrors() noexcept {
    if (api().ERR_peek_error() != 0) {
        api().ERR_clear_error();
    }
}

int clamped(std::size_t n) noexcept {
    return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
}

SSL_CTX* newContext(const SSL_METHOD* method) noexcept {
    SSL_CTX* context = api().SSL_CTX_new(method);
    if (context == nullptr) {
        return nullptr;
    }
    if (api().SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) != 1) {
        api().SSL_CTX_free(context);
        return nullptr;
    }
    api().SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    return context;
}

int verificationFailure(long result) noexcept {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return kTlsExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return kTlsNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return kTlsNameMismatch;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return kTlsUntrusted;
    default:
        return kTlsBadCertificate;
    }
}

bool isVersionReason(int reason) noexcept {
    switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_WRONG_SSL_VERSION:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
        return true;
    default:
        return false;
    }
}

// The alerts a client sends when it does not accept the server's certificate.
bool isCertificateAlert(int reason) noexcept {
    switch (reason) {
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- contexts

TlsContext::TlsContext(SSL_CTX* context, bool server) noexcept
    : context_(context), server_(server) {
    ++g_liveObjects;
}

TlsContext::~TlsContext() {
    api().SSL_CTX_free(context_);
    --g_liveObjects;
}

std::shared_ptr<TlsContext> TlsContext::adopt(SSL_CTX* context, bool server, int& error) noexcept {
    TlsContext* made = new (std::nothrow) TlsContext(context, server);
    if (made == nullptr) {
        api().SSL_CTX_free(context);
        error = kTlsSetupFailed;
        return nullptr;
    }
    try {
        return std::shared_ptr<TlsContext>(made);
    } catch (const std::bad_alloc&) {
        error = kTlsSetupFailed; // the shared pointer has deleted it, and the context with it
        return nullptr;
    }
}

std::shared_ptr<TlsContext> TlsContext::client(const std::string& caFile, int& error) noexcept {
    if (openSsl() == nullptr) {
        error = kTlsLibraryMissing;
        return nullptr;
    }
    clearErrors();
    SSL_CTX* context = newContext(api().TLS_client_method());
    if (context == nullptr) {
        error = kTlsSetupFailed;
        return nullptr;
    }
    api().SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    bool trusted = false;
    if (caFile.empty()) {
        // The system's CAs from its hashed folder, looked up as needed: the default paths would
        // parse the whole bundle file at every connect (tens of milliseconds). A bundle named by
        // SSL_CERT_FILE is read all the same.
        trusted = api().SSL_CTX_set_default_verify_dir(context) == 1 &&
                  (std::getenv("SSL_CERT_FILE") == nullptr ||
                   api().SSL_CTX_set_default_verify_file(context) == 1);
    } else {
        trusted = api().SSL_CTX_load_verify_file(context, caFile.c_str()) == 1;
    }
    clearErrors();
    if (!trusted) {
        api().SSL_CTX_free(context);
        error = caFile.empty() ? kTlsSetupFailed : kTlsCAFileUnreadable;
        return nullptr;
    }
    return adopt(context, false, error);
}

std::shared_ptr<TlsContext> TlsContext::server(const std::string& certFile,
                                               const std::string& keyFile, int& error) noexcept {
    if (openSsl() == nullptr) {
        error = kTlsLibraryMissing;
        return nullptr;
    }
    clearErrors();
    SSL_CTX* context = newContext(api().TLS_server_method());
    if (context == nullptr) {
        error = kTlsSetupFailed;
        return nullptr;
    }
    // Our clients make one connection per send and never resume a session: no tickets.
    api().SSL_CTX_set_num_tickets(context, 0);
    error = 0;
    if (api().SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1) {
        error = kTlsCertificateFile;
    } else if (api().SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
               api().SSL_CTX_check_private_key(context) != 1) {
        error = kTlsKeyFile;
    }
    clearErrors();
    if (error != 0) {
        api().SSL_CTX_free(context);
        return nullptr;
    }
    return adopt(context, true, error);
}

// ---------------------------------------------------------------- sessions

TlsSession::TlsSession(std::shared_ptr<TlsContext> context, SSL* ssl, BIO* in, BIO* out)
    : context_(std::move(context)), ssl_(ssl), in_(in), out_(out), incoming_(kIncomingSize) {
    ++g_liveObjects;
}

TlsSession::~TlsSession() {
    api().SSL_free(ssl_); // and its two memory buffers
    --g_liveObjects;
}

std::size_t TlsSession::liveObjects() noexcept {
    return g_liveObjects.load();
}

std::unique_ptr<TlsSession> TlsSession::make(std::shared_ptr<TlsContext> context,
                                             int& error) noexcept {
    error = kTlsSetupFailed;
    if (!context) {
        return nullptr;
    }
    clearErrors();
    SSL* ssl = api().SSL_new(context->context_);
    BIO* in = api().BIO_new(api().BIO_s_mem());
    BIO* out = api().BIO_new(api().BIO_s_mem());
    if (ssl == nullptr || in == nullptr || out == nullptr) {
        api().BIO_free(in);
        api().BIO_free(out);
        api().SSL_free(ssl);
        clearErrors();
        return nullptr;
    }
    // An empty buffer means "more to come", not the end of the stream.
    api().BIO_ctrl(in, BIO_C_SET_BUF_MEM_EOF_RETURN, -1, nullptr);
    api().BIO_ctrl(out, BIO_C_SET_BUF_MEM_EOF_RETURN, -1, nullptr);
    api().SSL_set_bio(ssl, in, out);
    if (context->isServer()) {
        api().SSL_set_accept_state(ssl);
    } else {
        api().SSL_set_connect_state(ssl);
    }
    try {
        std::unique_ptr<TlsSession> session(new TlsSession(std::move(context), ssl, in, out));
        error = 0;
        return session;
    } catch (const std::bad_alloc&) {
        api().SSL_free(ssl);
        return nullptr;
    }
}

std::unique_ptr<TlsSession> TlsSession::client(std::shared_ptr<TlsContext> context,
                                               std::string_view serverName, int& error) noexcept {
    if (context && context->isServer()) {
        error = kTlsSetupFailed;
        return nullptr;
    }
    std::unique_ptr<TlsSession> session = make(std::move(context), error);
    if (session && !session->setServerName(serverName)) {
        error = kTlsSetupFailed;
        return nullptr;
    }
    return session;
}

std::unique_ptr<TlsSession> TlsSession::server(std::shared_ptr<TlsContext> context,
                                               int& error) noexcept {
    if (context && !context->isServer()) {
        error = kTlsSetupFailed;
        return nullptr;
    }
    return make(std::move(context), error);
}

// The certificate must name the server as the user gave it: an address is checked as an
// address (the same IPv4 forms the address parser takes, or IPv6 without its zone), anything
// else as a host name, which also goes to the server as SNI. A host name is checked only
// against the DNS names of the certificate's subjectAltName, never its subject's common name,
// and one trailing dot (the root of a fully qualified name) is not part of it.
bool TlsSession::setServerName(std::string_view name) noexcept {
    try {
        if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
            name = name.substr(1, name.size() - 2);
        }
        std::string text(name);
        X509_VERIFY_PARAM* check = api().SSL_get0_param(ssl_);
        if (text.find(':') != std::string::npos) {
            in6_addr v6{};
            if (const std::size_t zone = text.find('%'); zone != std::string::npos) {
                text.resize(zone);
            }
            if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
                return api().X509_VERIFY_PARAM_set1_ip(check, reinterpret_cast<unsigned char*>(&v6),
                                                       sizeof v6) == 1;
            }
        }
        in_addr v4{};
        if (::inet_aton(text.c_str(), &v4) != 0) {
            return api().X509_VERIFY_PARAM_set1_ip(check, reinterpret_cast<unsigned char*>(&v4),
                                                   sizeof v4) == 1;
        }
        if (text.size() > 1 && text.back() == '.') {
            text.pop_back();
        }
        api().SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                          X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        // SSL_set_tlsext_host_name, without the macro's cast.
        return api().SSL_set1_host(ssl_, text.c_str()) == 1 &&
               api().SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                              text.data()) == 1;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TlsSession::incomingWritten(std::size_t n) noexcept {
    putIncoming(incoming_.data(), std::min(n, incoming_.size()));
}

void TlsSession::putIncoming(const char* bytes, std::size_t n) noexcept {
    if (n == 0 || state_ == State::Failed) {
        return;
    }
    if (!firstByteSeen_) {
        // Judged at once: a peer that is not speaking TLS may send bytes that happen to look
        // like the header of a long record, and then nothing more.
        firstByteSeen_ = true;
        const int first = static_cast<unsigned char>(bytes[0]);
        if (first != kAlertRecord && first != kHandshakeRecord) {
            fail(context_->isServer() ? kTlsClientNotTls : kTlsNotTls);
            return;
        }
    }
    starved_ = false;
    while (n > 0) {
        const int put = api().BIO_write(in_, bytes, clamped(n));
        if (put <= 0) {
            fail(kTlsSetupFailed);
            return;
        }
        bytes += put;
        n -= static_cast<std::size_t>(put);
    }
}

TlsSession::State TlsSession::handshake() noexcept {
    if (state_ != State::Handshaking) {
        return state_;
    }
    clearErrors();
    const int result = api().SSL_do_handshake(ssl_);
    if (result == 1) {
        collectOutgoing();
        state_ = State::Open;
        if (!heldBack_.empty()) {
            const std::string held = std::move(heldBack_);
            heldBack_.clear();
            write(held);
        }
        return state_;
    }
    const int error = api().SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        fail(handshakeFailure());
    }
    collectOutgoing(); // the alert that tells the peer why, if any
    return state_;
}

int TlsSession::handshakeFailure() const noexcept {
    const bool client = !context_->isServer();
    if (client) {
        if (const long verified = api().SSL_get_verify_result(ssl_); verified != X509_V_OK) {
            return verificationFailure(verified);
        }
    }
    int failure = kTlsHandshakeFailed;
    while (const unsigned long error = api().ERR_get_error()) {
        if (ERR_GET_LIB(error) != ERR_LIB_SSL) {
            continue;
        }
        const int reason = ERR_GET_REASON(error);
        if (isVersionReason(reason)) {
            failure = client ? kTlsProtocolVersion : kTlsClientVersion;
        } else if (!client && isCertificateAlert(reason)) {
            failure = kTlsCertificateRejected;
        }
    }
    return failure;
}

int TlsSession::read(char* into, std::size_t size) noexcept {
    if (state_ == State::Handshaking && handshake() == State::Handshaking) {
        return kNeedsInput;
    }
    if (state_ == State::Failed) {
        return kFailed;
    }
    if (peerClosed_) {
        return kPeerClosed;
    }
    if (starved_) {
        return kNeedsInput; // nothing has come in since the library last asked for more
    }
    clearErrors();
    const int result = api().SSL_read(ssl_, into, clamped(size));
    const int error = result > 0 ? SSL_ERROR_NONE : api().SSL_get_error(ssl_, result);
    collectOutgoing();
    if (result > 0) {
        // All that came in is handed out: the next read would only find that out.
        starved_ = api().SSL_pending(ssl_) == 0 && api().BIO_ctrl_pending(in_) == 0;
        return result;
    }
    switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        starved_ = true;
        return kNeedsInput;
    case SSL_ERROR_ZERO_RETURN:
        peerClosed_ = true;
        return kPeerClosed;
    default:
        fail(kTlsProtocolError);
        return kFailed;
    }
}

bool TlsSession::hasBufferedInput() const noexcept {
    return !starved_ && (api().SSL_pending(ssl_) > 0 || api().BIO_ctrl_pending(in_) > 0);
}

bool TlsSession::write(std::string_view bytes) noexcept {
    if (state_ == State::Handshaking) {
        try {
            heldBack_.append(bytes);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    if (state_ != State::Open) {
        return false;
    }
    clearErrors();
    while (!bytes.empty()) {
        const int written = api().SSL_write(ssl_, bytes.data(), clamped(bytes.size()));
        if (written <= 0) {
            fail(kTlsProtocolError);
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    collectOutgoing();
    return state_ == State::Open;
}

void TlsSession::close() noexcept {
    if (state_ != State::Open) {
        return;
    }
    clearErrors();
    api().SSL_shutdown(ssl_);
    clearErrors();
    collectOutgoing();
    if (state_ == State::Open) {
        state_ = State::Closed;
    }
}

void TlsSession::sent(std::size_t n) noexcept {
    outgoingSent_ = std::min(outgoingSent_ + n, outgoing_.size());
    if (outgoingSent_ == outgoing_.size()) {
        outgoing_.clear(); // keeps its room for the next records
        outgoingSent_ = 0;
    }
}

void TlsSession::collectOutgoing() noexcept {
    const std::size_t pending = api().BIO_ctrl_pending(out_);
    if (pending == 0) {
        return;
    }
    const std::size_t old = outgoing_.size();
    try {
        outgoing_.resize(old + pending);
    } catch (const std::bad_alloc&) {
        fail(kTlsSetupFailed);
        return;
    }
    const int got = api().BIO_read(out_, outgoing_.data() + old, clamped(pending));
    outgoing_.resize(old + static_cast<std::size_t>(std::max(got, 0)));
}

void TlsSession::fail(int code) noexcept {
    if (state_ != State::Failed) {
        state_ = State::Failed;
        failure_ = code;
    }
    heldBack_.clear();
}

} // namespace dazoroz::net
