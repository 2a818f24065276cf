// Large transfers into the TCP client port: a server thread sends as fast as it can, the port
// delivers everything through OnDataIn. Each round measures the throughput and the longest
// stretch the event loop had no turn (the largest gap between ticks of a 1 ms timer), for the
// pump without a bound (it reads until the socket has nothing more) and with the bound on reads
// per read notification, alternately in the same run. A stall counts from the last turn the
// timer saw (or the connect) to the next (or the end of the transfer).
//
//   bench_net_receive [--megabytes N] [--rounds N] [--sweep]
//
// --sweep also measures other bounds, to show what the chosen one costs and buys. Two buffer
// settings: the program's (2048-byte line buffer and socket receive buffer) and large ones
// (65535 and 1 MiB), where a single read notification could otherwise read for a long time.

#include "loopback_listener.h"
#include "net/qt_event_loop.h"
#include "net/vlm_ipport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using dazoroz::net::kReadsPerNotification;
using dazoroz::net::TvlmIPPort;

namespace {

// Sends `bytes` bytes to each connection, as fast as the socket takes them, then closes it.
class FloodServer {
public:
    explicit FloodServer(std::size_t bytes) : bytes_(bytes) {
        listener_ = listenOnLoopback(port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~FloodServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::uint16_t port() const { return port_; }

private:
    void serve() {
        std::vector<char> chunk(64 * 1024);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<char>('a' + i % 26);
        }
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            for (std::size_t sent = 0; sent < bytes_;) {
                const std::size_t n = std::min(chunk.size(), bytes_ - sent);
                const ssize_t done = ::send(fd, chunk.data(), n, MSG_NOSIGNAL);
                if (done <= 0) {
                    break;
                }
                sent += static_cast<std::size_t>(done);
            }
            ::close(fd);
        }
    }

    std::size_t bytes_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

struct Buffers {
    const char* name;
    std::uint32_t maxLineLength;
    std::int32_t inBufferSize;
};

struct Result {
    double megabytesPerSecond = 0;
    double longestStallMs = 0;
};

Result receive(std::uint16_t serverPort, std::size_t expected, const Buffers& buffers,
               int readsPerNotification) {
    TvlmIPPort port(dazoroz::net::QtEventLoop::instance());
    port.setMaxLineLength(buffers.maxLineLength);
    port.setInBufferSize(buffers.inBufferSize);
    port.engine().setReadsPerNotification(readsPerNotification);
    std::size_t received = 0;
    QElapsedTimer clock;
    double seconds = 0;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    port.OnConnected = [&](TvlmIPPort&, int status, const std::string& text) {
        if (status != 0) {
            std::fprintf(stderr, "connect failed: %s\n", text.c_str());
            std::exit(1);
        }
        clock.start();
        ticker.start();
    };
    port.OnDataIn = [&](TvlmIPPort&, const std::string& text, bool) {
        received += text.size();
    };
    port.OnDisconnected = [&](TvlmIPPort&, int, const std::string&) {
        const qint64 end = clock.nsecsElapsed();
        longestGap = std::max(longestGap, end - lastTick);
        seconds = static_cast<double>(end) / 1e9;
        ticker.stop();
        QCoreApplication::quit();
    };
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(serverPort);
    port.setConnected(true);
    QCoreApplication::exec();
    if (received != expected) {
        std::fprintf(stderr, "received %zu bytes of %zu\n", received, expected);
        std::exit(1);
    }
    return {static_cast<double>(received) / 1e6 / seconds, static_cast<double>(longestGap) / 1e6};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string boundName(int reads) {
    return reads == 0 ? std::string("none") : std::to_string(reads) + " reads";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::size_t megabytes = 64;
    int rounds = 7;
    bool sweep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--megabytes" && i + 1 < argc) {
            megabytes = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sweep") {
            sweep = true;
        } else {
            std::fprintf(stderr, "usage: %s [--megabytes N] [--rounds N] [--sweep]\n", argv[0]);
            return 2;
        }
    }
    const std::size_t bytes = megabytes * 1000 * 1000;
    FloodServer server(bytes);
    std::vector<int> bounds{0, kReadsPerNotification};
    if (sweep) {
        for (const int reads : {1, 4, 64, 256}) {
            if (reads != kReadsPerNotification) {
                bounds.push_back(reads);
            }
        }
    }
    const Buffers settings[] = {{"program's buffers (2048 / 2048)", 2048, 2048},
                                {"large buffers (65535 / 1 MiB)", 65535, 1 << 20}};
    std::printf("%zu MB per transfer, median of %d rounds, bounds measured in turn\n", megabytes,
                rounds);
    for (const Buffers& buffers : settings) {
        receive(server.port(), bytes, buffers, 0); // warm-up
        std::vector<std::vector<double>> speed(bounds.size());
        std::vector<std::vector<double>> stall(bounds.size());
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t b = 0; b < bounds.size(); ++b) {
                const Result r = receive(server.port(), bytes, buffers, bounds[b]);
                speed[b].push_back(r.megabytesPerSecond);
                stall[b].push_back(r.longestStallMs);
            }
        }
        std::printf("%s\n", buffers.name);
        const double unbounded = median(speed[0]);
        for (std::size_t b = 0; b < bounds.size(); ++b) {
            std::printf("  bound %-9s %8.1f MB/s (%5.1f%% of unbounded), longest stall %7.2f ms "
                        "(median), %7.2f ms (worst)\n",
                        boundName(bounds[b]).c_str(), median(speed[b]),
                        100.0 * median(speed[b]) / unbounded, median(stall[b]),
                        *std::max_element(stall[b].begin(), stall[b].end()));
        }
    }
    return 0;
}
