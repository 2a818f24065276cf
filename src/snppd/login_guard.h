#pragma once

// Failed logins counted per client address across connections, so that reconnecting gives no
// more guesses at the password. An IPv6 address counts with its /64 network, which one host can
// fill with addresses; an IPv4-mapped one as the IPv4 address.
//
// The table is bounded: entries expire, and when it is full the one closest to expiring makes
// room, locked-out addresses last.

#include <QHostAddress>

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace dazoroz::snppd {

class LoginGuard {
public:
    using Clock = std::chrono::steady_clock;

    struct Policy {
        int maxFailures = 5;                        // within the window: a lock-out
        std::chrono::milliseconds window{60'000};   //
        std::chrono::milliseconds lockout{600'000}; // how long LOGI is refused
        std::size_t capacity = 4096;                // addresses remembered at most
    };

    explicit LoginGuard(const Policy& policy) : policy_(policy) {}

    // Whether LOGI from this address is refused now.
    bool lockedOut(const QHostAddress& address, Clock::time_point now) const;
    // Counts a failed LOGI; true when it locks the address out.
    bool failed(const QHostAddress& address, Clock::time_point now);
    // A successful LOGI forgets the address's failures.
    void succeeded(const QHostAddress& address);

    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        std::vector<Clock::time_point> failures; // within the window, oldest first
        Clock::time_point lockedUntil{};
        Clock::time_point expires{}; // nothing to remember from then on
    };

    static std::string key(const QHostAddress& address);
    void makeRoom(Clock::time_point now);

    Policy policy_;
    std::unordered_map<std::string, Entry> entries_;
};

} // namespace dazoroz::snppd
