#include "support/refused_port.h"

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dazoroz::testsupport {

RefusedPort::RefusedPort(const QHostAddress& address, quint16 port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        static_assert(sizeof bytes == sizeof in6->sin6_addr);
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    // No SO_REUSEADDR: with it, another socket that sets it too could bind the port as well.
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

RefusedPort::~RefusedPort() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace dazoroz::testsupport
