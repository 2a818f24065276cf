#pragma once

// What the files of the port engine share (port_engine.cpp and its parts: port_properties.cpp,
// port_connect.cpp, port_tls_handshake.cpp, port_receive.cpp). Not for use outside them.

#include "net/error_texts.h"
#include "net/notification_window.h"
#include "net/socket_library.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace dazoroz::net::engine_parts {

// The last socket error; never 0 after a failed call, so a failure cannot pass for success.
inline int lastSocketError() noexcept {
    const int code = ws().WSAGetLastError();
    return code != 0 ? code : kWsaBaseError;
}

template <typename T> inline const char* asBytes(const T& value) noexcept {
    return reinterpret_cast<const char*>(&value);
}

template <std::size_t N>
inline void copyText(std::array<char, N>& area, std::string_view text) noexcept {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(area.data(), text.data(), n);
    area[n] = '\0';
}

constexpr long kPortEvents = kFdRead | kFdWrite | kFdConnect | kFdClose; // 0x33

// A connection that the peer ended during the TLS handshake, by its socket error.
inline int handshakeBroken(int error) noexcept {
    switch (error) {
    case 0:
        return kTlsClosedInHandshake;
    case 10052: // reset
    case 10053: // aborted
    case kWsaEConnReset:
        return kTlsResetInHandshake;
    default:
        return error;
    }
}

} // namespace dazoroz::net::engine_parts
