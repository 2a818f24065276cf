#include "net/error_texts.h"

#include <cstdint>
#include <cstdio>

namespace dazoroz::net {

namespace {

struct ErrorRow {
    int code;
    const char* text;
};

// Ordered by code and closed by a zero code: the socket codes, then those of TLS. The texts are
// shown to users exactly as stored.
constexpr ErrorRow kErrorRows[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Access denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Net dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empt"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc Quota Exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WINSOCK DLL Version out of range"},
    {10093, "Winsock not loaded yet (WSANOTINITIALISED)"},
    {11001, "Host not found"},
    {11002, "Non-authoritative 'Host not found' (try again or check DNS setup)"},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record (check DNS setup)"},
    {kTlsNotTls, "TLS: the server does not speak TLS"},
    {kTlsProtocolVersion, "TLS: the server does not offer TLS 1.2 or newer"},
    {kTlsUntrusted, "TLS: certificate is not trusted"},
    {kTlsNameMismatch, "TLS: certificate does not match the server name"},
    {kTlsExpired, "TLS: certificate has expired"},
    {kTlsNotYetValid, "TLS: certificate is not valid yet"},
    {kTlsBadCertificate, "TLS: certificate is not valid"},
    {kTlsClosedInHandshake, "TLS: connection closed during the handshake"},
    {kTlsResetInHandshake, "TLS: connection reset during the handshake"},
    {kTlsHandshakeFailed, "TLS: handshake failed"},
    {kTlsProtocolError, "TLS: protocol error"},
    {kTlsCAFileUnreadable, "TLS: the CA file cannot be read"},
    {kTlsSetupFailed, "TLS: the secure connection cannot be set up"},
    {kTlsLibraryMissing, "TLS: the OpenSSL library (libssl3) cannot be loaded"},
    {kTlsClientNotTls, "TLS: the client does not speak TLS"},
    {kTlsClientVersion, "TLS: the client does not offer TLS 1.2 or newer"},
    {kTlsCertificateRejected, "TLS: the client does not accept the certificate"},
    {kTlsCertificateFile, "TLS: the certificate file cannot be read"},
    {kTlsKeyFile, "TLS: the key file cannot be read or does not fit the certificate"},
    {0, nullptr},
};

} // namespace

const char* socketErrorDescription(int code) noexcept {
    const auto low = static_cast<std::uint16_t>(code);
    for (const ErrorRow* row = kErrorRows; row->code != 0; ++row) {
        if (row->code == low) {
            return row->text;
        }
    }
    return nullptr;
}

bool formatErrorText(int code, ErrorTextArea& area) noexcept {
    if (const char* text = socketErrorDescription(code)) {
        std::snprintf(area.data(), area.size(), "[%u] %s",
                      static_cast<unsigned>(static_cast<std::uint16_t>(code)), text);
        return true;
    }
    std::snprintf(area.data(), area.size(), "[%d] (no description available)", code);
    return false;
}

} // namespace dazoroz::net
