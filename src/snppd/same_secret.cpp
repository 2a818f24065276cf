#include "snppd/same_secret.h"

#include "net/openssl_library.h"

#include <array>

namespace dazoroz::snppd {

namespace {

using Digest = std::array<unsigned char, 32>; // SHA-256

bool digest(const net::OpenSslTable& ssl, const QByteArray& bytes, Digest& out) {
    unsigned int size = 0;
    return ssl.EVP_Digest(bytes.constData(), static_cast<std::size_t>(bytes.size()), out.data(),
                          &size, ssl.EVP_sha256(), nullptr) == 1 &&
           size == out.size();
}

} // namespace

bool sameSecret(const QByteArray& guess, const QByteArray& secret) {
    const net::OpenSslTable* ssl = net::openSsl();
    Digest guessed{};
    Digest wanted{};
    if (ssl == nullptr || !digest(*ssl, guess, guessed) || !digest(*ssl, secret, wanted)) {
        return false;
    }
    return ssl->CRYPTO_memcmp(guessed.data(), wanted.data(), guessed.size()) == 0;
}

bool secretCheckAvailable() {
    return net::openSsl() != nullptr;
}

} // namespace dazoroz::snppd
