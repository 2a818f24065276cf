// Reply round trips on loopback: write a command, wait for the reply. The TCP client port,
// driven by its events on the plain event loop (dazoroz-send's) and on Qt's (the window's),
// against a bare blocking POSIX socket client doing the same exchange with the same server in
// the same run.
//
//   bench_net_roundtrip [round-trips-per-run] [--no-pin]   (default 20000; best of 5 runs each)
//
// The server thread and the client run on one CPU unless --no-pin is given: on a virtual
// machine, waking a thread on another CPU can cost tens of microseconds, by the luck of where
// each thread lands, and the figures then say more about the scheduler than about the client.

#include "loopback_listener.h"
#include "net/plain_event_loop.h"
#include "net/qt_event_loop.h"
#include "net/vlm_ipport.h"

#include <QCoreApplication>

#include <sched.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using dazoroz::net::PlainEventLoop;
using dazoroz::net::QtEventLoop;
using dazoroz::net::TvlmIPPort;

namespace {

const char kCommand[] = "PAGE 5551234\r\n";
const char kReply[] = "250 Pager ID accepted\r\n";

// Answers every line with the reply, one connection per thread, until the client closes.
class ReplyServer {
public:
    ReplyServer() {
        listener_ = listenOnLoopback(port_);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~ReplyServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        acceptor_.join();
        for (std::thread& t : workers_) {
            t.join();
        }
    }
    std::uint16_t port() const { return port_; }

private:
    void acceptLoop() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            workers_.emplace_back([fd] { serve(fd); });
        }
    }
    static void serve(int fd) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    ::send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
                }
            }
        }
        ::close(fd);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

// Seconds for n round trips through the port, on the plain loop or on Qt's.
double runPort(std::uint16_t serverPort, int n, bool plain) {
    PlainEventLoop plainLoop;
    const auto port = plain ? std::make_unique<TvlmIPPort>(plainLoop)
                            : std::make_unique<TvlmIPPort>(QtEventLoop::instance());
    int replies = 0;
    Clock::time_point start;
    double seconds = 0;
    const auto quit = [&] {
        if (plain) {
            plainLoop.quit(0);
        } else {
            QCoreApplication::quit();
        }
    };
    port->OnConnected = [&](TvlmIPPort& p, int status, const std::string& text) {
        if (status != 0) {
            std::fprintf(stderr, "connect failed: %s\n", text.c_str());
            std::exit(1);
        }
        start = Clock::now();
        p.setDataOut(kCommand);
    };
    port->OnDataIn = [&](TvlmIPPort& p, const std::string& text, bool) {
        replies += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        if (replies < n) {
            p.setDataOut(kCommand);
        } else if (seconds == 0) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            quit();
        }
    };
    port->setRemoteHost("127.0.0.1");
    port->setRemotePort(serverPort);
    port->setConnected(true);
    if (plain) {
        plainLoop.run();
    } else {
        QCoreApplication::exec();
    }
    port->setConnected(false);
    return seconds;
}

// Seconds for n round trips through a blocking socket.
double runBare(std::uint16_t serverPort, int n) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(serverPort);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    char buffer[2048];
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < n; ++i) {
        ::send(fd, kCommand, sizeof kCommand - 1, MSG_NOSIGNAL);
        for (bool replied = false; !replied;) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                std::perror("recv");
                std::exit(1);
            }
            replied = std::memchr(buffer, '\n', static_cast<std::size_t>(got)) != nullptr;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    return seconds;
}

// This thread, and the threads it starts from now on, run on the first CPU it may use.
std::string pinToOneCpu() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        std::perror("sched_getaffinity");
        std::exit(1);
    }
    std::size_t cpu = 0;
    while (cpu < static_cast<std::size_t>(CPU_SETSIZE) && !CPU_ISSET(cpu, &allowed)) {
        ++cpu;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) {
        std::perror("sched_setaffinity");
        std::exit(1);
    }
    return "all on CPU " + std::to_string(cpu);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int n = 20000;
    bool pin = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-pin") == 0) {
            pin = false;
        } else {
            n = std::max(1, std::atoi(argv[i]));
        }
    }
    const std::string placement = pin ? pinToOneCpu() : std::string("on any CPU");
    ReplyServer server;

    runPort(server.port(), 500, true); // warm-up
    runPort(server.port(), 500, false);
    runBare(server.port(), 500);
    double plain = 1e9;
    double qt = 1e9;
    double bare = 1e9;
    for (int run = 0; run < 5; ++run) {
        plain = std::min(plain, runPort(server.port(), n, true));
        qt = std::min(qt, runPort(server.port(), n, false));
        bare = std::min(bare, runBare(server.port(), n));
    }
    const double plainMicros = plain * 1e6 / n;
    const double qtMicros = qt * 1e6 / n;
    const double bareMicros = bare * 1e6 / n;
    std::printf("reply round trips on loopback, %d per run, best of 5 runs, %s\n", n,
                placement.c_str());
    std::printf("  TCP client port, plain loop:  %8.2f us per round trip\n", plainMicros);
    std::printf("  TCP client port, Qt's loop:   %8.2f us per round trip\n", qtMicros);
    std::printf("  bare blocking POSIX socket:   %8.2f us per round trip\n", bareMicros);
    std::printf("  ratio port / bare:            %8.2f plain, %.2f Qt (target: at most 2)\n",
                plainMicros / bareMicros, qtMicros / bareMicros);
    return 0;
}
