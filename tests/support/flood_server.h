#pragma once

// A server on 127.0.0.1 that sends to each connection without pause, as fast as the socket
// takes the bytes, from threads of its own (so the flood goes on whatever the test's event loop
// does), until the client closes or the server is destroyed; or it runs a session of the test's
// own on each connection's blocking socket instead.

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace dazoroz::testsupport {

class FloodServer {
public:
    explicit FloodServer(std::function<void(int socket)> session = {});
    ~FloodServer();
    FloodServer(const FloodServer&) = delete;
    FloodServer& operator=(const FloodServer&) = delete;

    bool listening() const { return port_ != 0; }
    quint16 port() const { return port_; }
    // Bytes the clients' sockets have taken so far.
    std::uint64_t bytesSent() const { return sent_.load(); }

private:
    void accept();
    void flood(int fd);

    std::function<void(int socket)> session_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<std::uint64_t> sent_{0};
    std::mutex mutex_;
    std::vector<int> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

} // namespace dazoroz::testsupport
