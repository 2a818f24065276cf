#include "support/flood_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace dazoroz::testsupport {

FloodServer::FloodServer(std::function<void(int socket)> session) : session_(std::move(session)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { accept(); });
}

FloodServer::~FloodServer() {
    if (listener_ >= 0) {
        ::shutdown(listener_, SHUT_RDWR); // ends the accept
    }
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    {
        const std::lock_guard lock(mutex_);
        for (const int fd : connections_) {
            ::shutdown(fd, SHUT_RDWR); // ends a send that waits for room
        }
    }
    for (std::thread& t : threads_) {
        t.join();
    }
    for (const int fd : connections_) {
        ::close(fd);
    }
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

void FloodServer::accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const std::lock_guard lock(mutex_);
        connections_.push_back(fd);
        threads_.emplace_back([this, fd] { flood(fd); });
    }
}

void FloodServer::flood(int fd) {
    if (session_) {
        session_(fd);
        return;
    }
    const QByteArray chunk(64 * 1024, 'x');
    for (;;) {
        const ssize_t n =
            ::send(fd, chunk.constData(), static_cast<std::size_t>(chunk.size()), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent_ += static_cast<std::uint64_t>(n);
    }
}

} // namespace dazoroz::testsupport
