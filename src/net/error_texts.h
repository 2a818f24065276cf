#pragma once

#include <array>
#include <cstddef>

namespace dazoroz::net {

// Room for one formatted socket error text: the longest fits in 80 characters.
inline constexpr std::size_t kErrorTextSize = 81;
using ErrorTextArea = std::array<char, kErrorTextSize>;

// Codes of the secure connection's failures, in the same table as the socket codes: far above
// the Windows-sockets codes (10004 to 11004) and the port's own (below 1000), and within the 16
// bits that events carry. Their texts are fixed; nothing a peer sends goes into them.
enum TlsError : int {
    kTlsFirst = 20000,
    kTlsNotTls = 20001,              // the server answered with something other than TLS
    kTlsProtocolVersion = 20002,     // no common version, TLS 1.2 or newer
    kTlsUntrusted = 20003,           // no chain to a trusted CA
    kTlsNameMismatch = 20004,        // the certificate is for another name or address
    kTlsExpired = 20005,
    kTlsNotYetValid = 20006,
    kTlsBadCertificate = 20007,      // any other reason the certificate fails verification
    kTlsClosedInHandshake = 20008,   // the peer closed before the handshake ended
    kTlsResetInHandshake = 20009,    // the peer reset before the handshake ended
    kTlsHandshakeFailed = 20010,     // any other handshake failure
    kTlsProtocolError = 20011,       // bad data after the handshake
    kTlsCAFileUnreadable = 20012,    // the trusted CAs' file cannot be read or holds none
    kTlsSetupFailed = 20013,         // the library could not set up a session (memory)
    kTlsLibraryMissing = 20014,      // libssl.so.3 cannot be loaded
    kTlsClientNotTls = 20021,        // the server's side of 20001
    kTlsClientVersion = 20022,       // the server's side of 20002
    kTlsCertificateRejected = 20023, // the client refused our certificate
    kTlsCertificateFile = 20024,     // our certificate chain cannot be read
    kTlsKeyFile = 20025,             // our key cannot be read or does not fit the certificate
    kTlsLast = 20099,
};

inline constexpr bool isTlsError(int code) noexcept {
    return code > kTlsFirst && code <= kTlsLast;
}

// The table text of a Windows-sockets or TLS error code (compared on its low 16 bits), or nullptr.
const char* socketErrorDescription(int code) noexcept;

// Writes "[code] text" for a code of the table (the code printed as an unsigned 16-bit number),
// else "[code] (no description available)". Returns whether the code was in the table.
bool formatErrorText(int code, ErrorTextArea& area) noexcept;

} // namespace dazoroz::net
