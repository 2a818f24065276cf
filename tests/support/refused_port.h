#pragma once

// A loopback TCP port that refuses every connect (10061) for as long as the object lives. A socket
// stays bound to the port without listening. So nothing else can take the port, and the system
// never picks it as the local port of an outgoing connection; a port that was merely free a moment
// ago can be taken meanwhile, or even be connected to itself by such a connection.

#include <QHostAddress>

namespace dazoroz::testsupport {

class RefusedPort {
public:
    // On the given loopback address, at the given port (0: one of the system's choice).
    explicit RefusedPort(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                         quint16 port = 0);
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;

    bool isValid() const { return fd_ >= 0; }
    quint16 port() const { return port_; }

private:
    int fd_ = -1;
    quint16 port_ = 0;
};

} // namespace dazoroz::testsupport
