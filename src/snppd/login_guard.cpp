#include "snppd/login_guard.h"

#include <algorithm>

namespace dazoroz::snppd {

std::string LoginGuard::key(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // IPv4-mapped IPv6 too
    if (isV4) {
        return "4:" + std::to_string(v4);
    }
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return "6:" + std::string(reinterpret_cast<const char*>(v6.c), 8);
}

bool LoginGuard::lockedOut(const QHostAddress& address, Clock::time_point now) const {
    const auto found = entries_.find(key(address));
    return found != entries_.end() && now < found->second.lockedUntil;
}

bool LoginGuard::failed(const QHostAddress& address, Clock::time_point now) {
    const std::string k = key(address);
    if (!entries_.contains(k) && size() >= policy_.capacity) {
        makeRoom(now);
    }
    Entry& entry = entries_[k];
    std::erase_if(entry.failures, [&](Clock::time_point t) { return t + policy_.window <= now; });
    entry.failures.push_back(now);
    entry.expires = std::max(entry.lockedUntil, now + policy_.window);
    if (static_cast<int>(entry.failures.size()) < policy_.maxFailures) {
        return false;
    }
    // Locked out: the failures that led here are done with.
    entry.failures.clear();
    entry.lockedUntil = now + policy_.lockout;
    entry.expires = entry.lockedUntil;
    return true;
}

void LoginGuard::succeeded(const QHostAddress& address) {
    entries_.erase(key(address));
}

void LoginGuard::makeRoom(Clock::time_point now) {
    std::erase_if(entries_, [now](const auto& item) { return item.second.expires <= now; });
    if (size() < policy_.capacity || entries_.empty()) {
        return;
    }
    const auto oldest =
        std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.expires < b.second.expires;
        });
    if (oldest != entries_.end()) { // it is not: the table is not empty (GCC 12 cannot tell)
        entries_.erase(oldest);
    }
}

} // namespace dazoroz::snppd
