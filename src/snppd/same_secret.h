#pragma once

// The comparison of a login's password (and login ID) with the server's.

#include <QByteArray>

namespace dazoroz::snppd {

// Whether guess is secret, in a time that tells nothing of either, not even their lengths: both
// are hashed (SHA-256) and the digests compared in constant time, by OpenSSL. False when OpenSSL
// cannot be loaded (see secretCheckAvailable).
bool sameSecret(const QByteArray& guess, const QByteArray& secret);

// Whether OpenSSL, which sameSecret needs, can be loaded.
bool secretCheckAvailable();

} // namespace dazoroz::snppd
