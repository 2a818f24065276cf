#pragma once

// OpenSSL as the TLS layer uses it: libssl.so.3 (and with it libcrypto.so.3) loaded at run time,
// on the first use of TLS, and called only through this table of its functions. A program that
// never turns TLS on neither loads nor relocates the libraries: they would cost every start of
// dazoroz-send more than a page takes. (dazoroz-snppd also compares login passwords with it.)

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace dazoroz::net {

// Every function of the table, under its own name.
#define DAZOROZ_OPENSSL_FUNCTIONS(X)                                                               \
    X(BIO_ctrl)                                                                                    \
    X(BIO_ctrl_pending)                                                                            \
    X(BIO_free)                                                                                    \
    X(BIO_new)                                                                                     \
    X(BIO_read)                                                                                    \
    X(BIO_s_mem)                                                                                   \
    X(BIO_write)                                                                                   \
    X(CRYPTO_memcmp)                                                                               \
    X(ERR_clear_error)                                                                             \
    X(ERR_get_error)                                                                               \
    X(ERR_peek_error)                                                                              \
    X(EVP_Digest)                                                                                  \
    X(EVP_sha256)                                                                                  \
    X(SSL_CTX_check_private_key)                                                                   \
    X(SSL_CTX_ctrl)                                                                                \
    X(SSL_CTX_free)                                                                                \
    X(SSL_CTX_load_verify_file)                                                                    \
    X(SSL_CTX_new)                                                                                 \
    X(SSL_CTX_set_default_verify_dir)                                                              \
    X(SSL_CTX_set_default_verify_file)                                                             \
    X(SSL_CTX_set_num_tickets)                                                                     \
    X(SSL_CTX_set_options)                                                                         \
    X(SSL_CTX_set_verify)                                                                          \
    X(SSL_CTX_use_PrivateKey_file)                                                                 \
    X(SSL_CTX_use_certificate_chain_file)                                                          \
    X(SSL_ctrl)                                                                                    \
    X(SSL_do_handshake)                                                                            \
    X(SSL_free)                                                                                    \
    X(SSL_get0_param)                                                                              \
    X(SSL_get_error)                                                                               \
    X(SSL_get_verify_result)                                                                       \
    X(SSL_new)                                                                                     \
    X(SSL_pending)                                                                                 \
    X(SSL_read)                                                                                    \
    X(SSL_set1_host)                                                                               \
    X(SSL_set_accept_state)                                                                        \
    X(SSL_set_bio)                                                                                 \
    X(SSL_set_connect_state)                                                                       \
    X(SSL_set_hostflags)                                                                           \
    X(SSL_shutdown)                                                                                \
    X(SSL_write)                                                                                   \
    X(TLS_client_method)                                                                           \
    X(TLS_server_method)                                                                           \
    X(X509_VERIFY_PARAM_set1_ip)

struct OpenSslTable {
#define DAZOROZ_OPENSSL_SLOT(name) decltype(&::name) name = nullptr;
    DAZOROZ_OPENSSL_FUNCTIONS(DAZOROZ_OPENSSL_SLOT)
#undef DAZOROZ_OPENSSL_SLOT
};

// The table, loading the library on the first call; nullptr when it cannot be loaded or lacks a
// function (then it is not tried again).
const OpenSslTable* openSsl() noexcept;

} // namespace dazoroz::net
