// The time to deliver one page to 1, 10 and 100 recipients over one connection to the local SNPP
// server (dazoroz-snppd on a port of the system's choice), by dazoroz-send and by a bare client
// on blocking sockets doing the same exchange (the floor), measured in the same run.
//
//   bench_page_delivery [--runs N] [--recipients 1,10,100] [--no-pin] [--compare PROGRAM] [--tls]
//                       [--history]
//
// --compare measures another build of dazoroz-send as well, in the same runs (before and after
// a change, say). --tls measures dazoroz-send over TLS as well, to a second dazoroz-snppd that
// speaks TLS with a throwaway certificate (made by the tests' make-test-pki.sh, EC P-256),
// trusted through --tls-ca: what the handshake adds to a page, and what TLS costs per recipient.
// --history measures dazoroz-send --history as well, its history in the scratch folder: what
// recording every page adds (the rows, their commits and the one sync at the end) against the
// same send without it.
//
// All processes (the server, the clients, this program) run on one CPU unless --no-pin is
// given. On a virtual machine, waking a process on another (idle) CPU can cost a hundred
// microseconds or more, and whether the client lands on the server's CPU changes from run to
// run: unpinned, the same program takes 6 or 22 ms by the luck of the draw. On one CPU every
// run pays the same hand-over, and what differs is the programs' own work.
//
// Every figure is taken over N runs (default 30, after two warm-up runs), in milliseconds,
// wall-clock from starting the process to its end: the mean, which the targets compare (ratio
// of means), the median and the best run. On a machine shared with other work the best run
// shows the cost of the program itself; mean and median add the waits for a CPU that others
// cause. Beside them, the mean CPU time of the process (user and system), which waits for a CPU
// do not lengthen, and from it what each reply costs beyond the first count's; and the peak
// memory of the process (VmHWM, the kernel's maximum resident set size). The floor is measured
// twice: as a process of its own (this program started again, with no settings to load), which
// is what a script calling a sender pays at the least, and as the exchange alone, inside this
// process. The runs of all kinds, for every count and for the start-up alone, are interleaved
// so that drift of the machine hits all alike; the load average before and after tells how busy
// the machine was.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kMessage = "Disk full on db1, please call the office";
constexpr int kWarmUpRuns = 2;
// dazoroz-send against the floor process: for one recipient, and for the most recipients.
constexpr double kTargetOne = 1.3;
constexpr double kTargetMany = 1.15;
constexpr double kMemoryTargetMb = 2.0; // peak memory beyond the floor process's
constexpr double kTlsTarget = 1.2;      // per recipient, TLS against plain
constexpr double kHistoryTargetMs = 1.0;    // added to one recipient's send
constexpr double kHistoryTargetRatio = 1.1; // a hundred recipients' send against history off

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_page_delivery: %s\n", what.c_str());
    std::exit(1);
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string pagerId(int i) {
    return std::to_string(5550000 + i);
}

// ---- The floor: SNPP over blocking sockets, no event loop, no buffering beyond one read ----

class FloorClient {
public:
    explicit FloorClient(unsigned short port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            die(systemError("socket"));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            die(systemError("connect"));
        }
    }
    ~FloorClient() { ::close(fd_); }
    FloorClient(const FloorClient&) = delete;
    FloorClient& operator=(const FloorClient&) = delete;

    void expect(const char* code) {
        const std::string reply = readReply();
        if (reply.compare(0, 3, code) != 0) {
            die("the server answered \"" + reply + "\" where " + code + " was due");
        }
    }

    void command(const std::string& line, const char* code) {
        const std::string bytes = line + "\r\n";
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(bytes.size())) {
            die(systemError("send"));
        }
        expect(code);
    }

private:
    std::string readReply() {
        for (;;) {
            const std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string reply = pending_.substr(0, end + 1);
                pending_.erase(0, end + 1);
                return reply;
            }
            char buffer[512];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                die(n == 0 ? std::string("the server closed the connection") : systemError("recv"));
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    int fd_ = -1;
    std::string pending_;
};

// The exchange dazoroz-send makes: the greeting, PAGE, MESS and SEND for every recipient, QUIT.
void floorExchange(unsigned short port, int recipients) {
    FloorClient client(port);
    client.expect("220");
    for (int i = 0; i < recipients; ++i) {
        client.command("PAGE " + pagerId(i), "250");
        client.command("MESS " + kMessage, "250");
        client.command("SEND", "250");
    }
    client.command("QUIT", "221");
}

// ---- Processes ----

// What one run of a process took, in milliseconds, and its peak memory.
struct Run {
    double wall = 0;
    double cpu = 0;          // user and system
    double peakMemoryMb = 0; // VmHWM; 0 for the exchange inside this process
};

double milliseconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Runs a program to its end with standard output thrown away (and standard error, when a
// failure is expected).
Run runProgram(const std::vector<std::string>& arguments, int expectedExit) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (expectedExit != 0) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }

    const auto start = Clock::now();
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        die(systemError("cannot start " + arguments[0]));
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            die(systemError("wait4"));
        }
    }
    const auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedExit) {
        die(arguments[0] + " ended with status " + std::to_string(status) + ", not exit " +
            std::to_string(expectedExit));
    }
    return {std::chrono::duration<double, std::milli>(end - start).count(),
            milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime),
            static_cast<double>(usage.ru_maxrss) / 1024.0};
}

// dazoroz-snppd on 127.0.0.1, port of the system's choice, pages thrown away.
class LocalServer {
public:
    explicit LocalServer(const std::vector<std::string>& options = {}) {
        int errPipe[2];
        if (::pipe2(errPipe, O_CLOEXEC) != 0) {
            die(systemError("pipe"));
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        std::vector<std::string> arguments{SNPPD_PROGRAM, "--address", "127.0.0.1", "--port", "0"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(errPipe[1]);
        if (error != 0) {
            errno = error;
            die(systemError("cannot start " SNPPD_PROGRAM));
        }
        errFd_ = errPipe[0];
        // "dazoroz-snppd: listening on 127.0.0.1:PORT"
        std::string text;
        const std::string mark = "listening on 127.0.0.1:";
        while (text.find(mark) == std::string::npos ||
               text.find('\n', text.find(mark)) == std::string::npos) {
            char buffer[256];
            const ssize_t n = ::read(errFd_, buffer, sizeof buffer);
            if (n <= 0) {
                die("dazoroz-snppd did not start: " + text);
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t at = text.find(mark);
        if (at == std::string::npos) {
            die("dazoroz-snppd said: " + text);
        }
        port_ = static_cast<unsigned short>(std::stoi(text.substr(at + mark.size())));
    }
    ~LocalServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        ::close(errFd_);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    unsigned short port() const { return port_; }

private:
    pid_t pid_ = 0;
    int errFd_ = -1;
    unsigned short port_ = 0;
};

// ---- Measuring ----

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double mean(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

struct Figures {
    double mean = 0; // wall-clock
    double median = 0;
    double best = 0;
    double cpu = 0;          // mean
    double peakMemoryMb = 0; // median
};

struct Kind {
    std::string name;
    std::function<Run()> once;
    std::vector<Run> runs;
};

// Runs every kind `runs` times, interleaved, after the warm-up runs.
std::vector<Figures> measure(std::vector<Kind>& kinds, int runs) {
    for (int r = 0; r < kWarmUpRuns + runs; ++r) {
        for (Kind& k : kinds) {
            const Run run = k.once();
            if (r >= kWarmUpRuns) {
                k.runs.push_back(run);
            }
        }
    }
    std::vector<Figures> figures;
    for (const Kind& k : kinds) {
        std::vector<double> wall;
        std::vector<double> cpu;
        std::vector<double> memory;
        for (const Run& run : k.runs) {
            wall.push_back(run.wall);
            cpu.push_back(run.cpu);
            memory.push_back(run.peakMemoryMb);
        }
        figures.push_back({mean(wall), median(wall), *std::min_element(wall.begin(), wall.end()),
                           mean(cpu), median(memory)});
    }
    return figures;
}

double cpuMilliseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The machine's load average over the last minute: what else competed for the CPUs.
std::string loadAverage() {
    double load[1] = {0};
    if (::getloadavg(load, 1) != 1) {
        return "unknown";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", load[0]);
    return text;
}

// This process and all it starts from now on run on the first CPU it may use.
std::string pinToOneCpu() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        die(systemError("sched_getaffinity"));
    }
    std::size_t cpu = 0;
    while (cpu < static_cast<std::size_t>(CPU_SETSIZE) && !CPU_ISSET(cpu, &allowed)) {
        ++cpu;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) {
        die(systemError("sched_setaffinity"));
    }
    return "all on CPU " + std::to_string(cpu);
}

std::vector<int> parseCounts(const std::string& text) {
    std::vector<int> counts;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const int n = std::atoi(text.substr(from, comma - from).c_str());
        if (n < 1 || n > 1000) {
            die("--recipients wants numbers from 1 to 1000, like 1,10,100");
        }
        counts.push_back(n);
        from = comma + 1;
    }
    return counts;
}

} // namespace

int main(int argc, char* argv[]) {
    // Started again as the floor client (--floor-client PORT RECIPIENTS), or to do nothing.
    if (argc == 2 && std::strcmp(argv[1], "--nothing") == 0) {
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--floor-client") == 0) {
        floorExchange(static_cast<unsigned short>(std::atoi(argv[2])), std::atoi(argv[3]));
        return 0;
    }

    int runs = 30;
    std::vector<int> counts{1, 10, 100};
    bool pin = true;
    std::string compared; // another build of dazoroz-send, if any
    bool tls = false;
    bool history = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--recipients" && i + 1 < argc) {
            counts = parseCounts(argv[++i]);
        } else if (a == "--no-pin") {
            pin = false;
        } else if (a == "--tls") {
            tls = true;
        } else if (a == "--history") {
            history = true;
        } else if (a == "--compare" && i + 1 < argc) {
            compared = argv[++i];
            if (::access(compared.c_str(), X_OK) != 0) {
                die(systemError(compared));
            }
        } else {
            die("usage: bench_page_delivery [--runs N] [--recipients 1,10,100] [--no-pin] "
                "[--compare PROGRAM] [--tls] [--history]");
        }
    }
    const std::string placement = pin ? pinToOneCpu() : std::string("on any CPU");

    // dazoroz-send reads dazoroz.ini from $WINDIR and names.txt from the working directory:
    // both an empty scratch directory, so that nothing of the machine's is read.
    char scratch[] = "/tmp/bench_page_delivery.XXXXXX";
    // The history, with --history, goes there as well.
    if (::mkdtemp(scratch) == nullptr || ::chdir(scratch) != 0 ||
        ::setenv("WINDIR", scratch, 1) != 0 ||
        ::setenv("XDG_STATE_HOME", (std::string(scratch) + "/state").c_str(), 1) != 0) {
        die(systemError("scratch directory"));
    }
    ::signal(SIGPIPE, SIG_IGN);

    LocalServer server;
    const std::string port = std::to_string(server.port());
    // With --tls: the certificates, and a server that speaks TLS with them.
    const std::string pki = std::string(scratch) + "/pki";
    std::optional<LocalServer> tlsServer;
    if (tls) {
        runProgram({"/bin/bash", MAKE_TEST_PKI, pki}, 0);
        tlsServer.emplace(std::vector<std::string>{"--tls-cert", pki + "/server.pem", "--tls-key",
                                                   pki + "/server.key"});
    }
    const std::string self = "/proc/self/exe";
    char selfPath[4096] = {};
    if (::readlink(self.c_str(), selfPath, sizeof selfPath - 1) < 0) {
        die(systemError("readlink /proc/self/exe"));
    }

    std::vector<std::string> programs{SEND_PROGRAM};
    if (!compared.empty()) {
        programs.push_back(compared);
    }
    const auto sendCommand = [&](const std::string& program, int recipients, bool secure = false,
                                 bool keepHistory = false) {
        std::vector<std::string> send{program,
                                      "--server",
                                      "127.0.0.1",
                                      "--port",
                                      secure ? std::to_string(tlsServer->port()) : port,
                                      "--timeout",
                                      "60",
                                      "--message",
                                      kMessage};
        if (secure) {
            send.insert(send.end(), {"--tls-ca", pki + "/ca.pem"});
        }
        if (keepHistory) {
            send.push_back("--history");
        }
        for (int i = 0; i < recipients; ++i) {
            send.push_back(pagerId(i));
        }
        return send;
    };

    // Every kind for every count, and the start-up alone: where dazoroz-send's time goes before
    // it sends anything, loading the program and its libraries (--version), and that plus the
    // event loop and the settings file (no recipient: a usage error right after the settings
    // are read). All in one round, so that the machine's drift hits all alike.
    std::vector<Kind> kinds;
    const std::size_t perCount = 2 + programs.size() + (tls ? 1 : 0) + (history ? 1 : 0);
    for (const int n : counts) {
        kinds.push_back(
            {"floor exchange",
             [&server, n] {
                 const double cpuStart = cpuMilliseconds();
                 const auto start = Clock::now();
                 floorExchange(server.port(), n);
                 return Run{std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                            cpuMilliseconds() - cpuStart};
             },
             {}});
        const std::vector<std::string> floorProcess{selfPath, "--floor-client", port,
                                                    std::to_string(n)};
        kinds.push_back(
            {"floor process", [floorProcess] { return runProgram(floorProcess, 0); }, {}});
        for (std::size_t p = 0; p < programs.size(); ++p) {
            kinds.push_back({p == 0 ? "dazoroz-send" : "compared send",
                             [send = sendCommand(programs[p], n)] { return runProgram(send, 0); },
                             {}});
        }
        if (tls) {
            kinds.push_back(
                {"dazoroz-send TLS",
                 [send = sendCommand(SEND_PROGRAM, n, true)] { return runProgram(send, 0); },
                 {}});
        }
        if (history) {
            kinds.push_back(
                {"dazoroz-send hist.",
                 [send = sendCommand(SEND_PROGRAM, n, false, true)] { return runProgram(send, 0); },
                 {}});
        }
    }
    const std::vector<std::string> startUpNames{
        "floor process doing nothing", "dazoroz-send --version", "dazoroz-send up to its settings"};
    kinds.push_back({startUpNames[0], [&] { return runProgram({selfPath, "--nothing"}, 0); }, {}});
    kinds.push_back({startUpNames[1],
                     [] {
                         return runProgram({SEND_PROGRAM, "--version"}, 0);
                     },
                     {}});
    kinds.push_back({startUpNames[2],
                     [&] {
                         return runProgram({SEND_PROGRAM, "--server", "127.0.0.1", "--port", port,
                                            "--message", kMessage},
                                           2);
                     },
                     {}});

    const std::string loadBefore = loadAverage();
    const std::vector<Figures> f = measure(kinds, runs);
    const std::string loadAfter = loadAverage();

    std::printf("Page delivery over one connection to dazoroz-snppd on 127.0.0.1:%s, %s\n"
                "milliseconds per process from start to exit over %d runs: mean, median (best);\n"
                "CPU: mean of the process's user and system time; peak memory: median VmHWM\n\n",
                port.c_str(), placement.c_str(), runs);
    std::printf("%10s  %-16s  %26s  %7s  %7s  %22s\n", "recipients", "client",
                "wall-clock mean, median (best)", "CPU", "peak MB", "mean / floor proc.");
    for (std::size_t c = 0; c < counts.size(); ++c) {
        const Figures& floor = f[c * perCount + 1];
        for (std::size_t k = c * perCount; k < (c + 1) * perCount; ++k) {
            std::printf("%10d  %-16s  %7.2f, %7.2f (%7.2f)  %7.2f  %7.2f", counts[c],
                        kinds[k].name.c_str(), f[k].mean, f[k].median, f[k].best, f[k].cpu,
                        f[k].peakMemoryMb);
            if (k % perCount >= 2) {
                std::printf("  %6.2fx (median %5.2fx)", f[k].mean / floor.mean,
                            f[k].median / floor.median);
            }
            std::printf("\n");
        }
    }
    if (counts.size() > 1 && counts.back() != counts.front()) {
        // What a reply costs: the difference between the first count and the last.
        const double replies = 3.0 * (counts.back() - counts.front());
        const std::size_t last = (counts.size() - 1) * perCount;
        std::printf("\nCPU per reply (from %d to %d recipients), microseconds:", counts.front(),
                    counts.back());
        for (std::size_t k = 0; k < perCount; ++k) {
            std::printf("%s %s %.1f", k == 0 ? "" : ",", kinds[k].name.c_str(),
                        (f[last + k].cpu - f[k].cpu) * 1e3 / replies);
        }
        std::printf("\n");
    }
    const std::size_t last = (counts.size() - 1) * perCount;
    const Figures& nothing = f[counts.size() * perCount];
    const Figures& version = f[counts.size() * perCount + 1];
    std::printf("\nstart-up alone, ms, wall-clock mean, median (best), CPU mean, peak MB:\n");
    for (std::size_t i = 0; i < startUpNames.size(); ++i) {
        const Figures& s = f[counts.size() * perCount + i];
        std::printf("  %-32s %6.2f, %6.2f (%5.2f)  %6.2f  %6.2f\n", startUpNames[i].c_str(), s.mean,
                    s.median, s.best, s.cpu, s.peakMemoryMb);
    }
    std::printf("  dazoroz-send --version / floor: %.2fx\n", version.mean / nothing.mean);

    std::printf("\nload average (1 minute): %s at the start, %s at the end\n", loadBefore.c_str(),
                loadAfter.c_str());
    const auto target = [&](std::size_t c, double goal) {
        const Figures& floor = f[c * perCount + 1];
        const Figures& send = f[c * perCount + 2];
        const double ratio = send.mean / floor.mean;
        const double memory = send.peakMemoryMb - floor.peakMemoryMb;
        std::printf("target: dazoroz-send within %.2fx of the floor process for %d recipient%s: "
                    "%.2fx, %s (median %.2fx, best %.2fx); peak memory %+.2f MB, %s\n",
                    goal, counts[c], counts[c] == 1 ? "" : "s", ratio,
                    ratio <= goal ? "met" : "MISSED", send.median / floor.median,
                    send.best / floor.best, memory, memory <= kMemoryTargetMb ? "met" : "MISSED");
    };
    target(0, counts.front() == 1 ? kTargetOne : kTargetMany);
    if (counts.size() > 1) {
        target(counts.size() - 1, kTargetMany);
    }
    {
        // The part of the time that is the programs' own: each less its own start doing nothing.
        const double own = f[last + 2].mean - version.mean;
        const double floorOwn = f[last + 1].mean - nothing.mean;
        std::printf("beyond starting (mean less the same program's start doing nothing), %d "
                    "recipients: dazoroz-send %.2f ms, floor %.2f ms, %.2fx\n",
                    counts.back(), own, floorOwn, own / floorOwn);
    }

    if (tls) {
        // TLS against plain, both by dazoroz-send: the handshake's cost for one page, and the
        // cost per recipient (the difference between the first count and the last).
        const std::size_t plainAt = 2;
        const std::size_t tlsAt = perCount - 1 - (history ? 1 : 0);
        std::printf("\nTLS against plain (dazoroz-send), mean (best):\n");
        for (std::size_t c = 0; c < counts.size(); ++c) {
            const Figures& plain = f[c * perCount + plainAt];
            const Figures& secure = f[c * perCount + tlsAt];
            std::printf("  %4d recipients: +%.2f ms (+%.2f ms), %.2fx (%.2fx); CPU +%.2f ms; peak "
                        "memory +%.2f MB\n",
                        counts[c], secure.mean - plain.mean, secure.best - plain.best,
                        secure.mean / plain.mean, secure.best / plain.best, secure.cpu - plain.cpu,
                        secure.peakMemoryMb - plain.peakMemoryMb);
        }
        if (counts.size() > 1 && counts.back() != counts.front()) {
            const double recipients = counts.back() - counts.front();
            const auto perRecipient = [&](std::size_t at, bool bestRuns) {
                const Figures& first = f[at];
                const Figures& lastOne = f[last + at];
                return ((bestRuns ? lastOne.best : lastOne.mean) -
                        (bestRuns ? first.best : first.mean)) /
                       recipients;
            };
            const double plainMean = perRecipient(plainAt, false);
            const double tlsMean = perRecipient(tlsAt, false);
            const double ratioMean = tlsMean / plainMean;
            const double ratioBest = perRecipient(tlsAt, true) / perRecipient(plainAt, true);
            std::printf("  per recipient: plain %.1f us, TLS %.1f us (means): %.2fx (best runs "
                        "%.2fx)\n",
                        plainMean * 1e3, tlsMean * 1e3, ratioMean, ratioBest);
            std::printf("target: TLS within %.1fx of plain per recipient: mean %s, best %s\n",
                        kTlsTarget, ratioMean <= kTlsTarget ? "met" : "MISSED",
                        ratioBest <= kTlsTarget ? "met" : "MISSED");
        }
    }

    if (history) {
        // Recording against the same send without it, both by dazoroz-send.
        const std::size_t plainAt = 2;
        const std::size_t historyAt = perCount - 1;
        std::printf("\nHistory against none (dazoroz-send), median (best):\n");
        bool met = true;
        for (std::size_t c = 0; c < counts.size(); ++c) {
            const Figures& plain = f[c * perCount + plainAt];
            const Figures& kept = f[c * perCount + historyAt];
            const double added = kept.median - plain.median;
            const double ratio = kept.median / plain.median;
            std::printf("  %4d recipients: +%.2f ms (+%.2f ms), %.3fx (%.3fx); CPU +%.2f ms\n",
                        counts[c], added, kept.best - plain.best, ratio, kept.best / plain.best,
                        kept.cpu - plain.cpu);
            if (counts[c] == 1)
                met = met && added <= kHistoryTargetMs;
            if (counts[c] >= 100)
                met = met && ratio <= kHistoryTargetRatio;
        }
        std::printf("target: the history adds at most %.1f ms to 1 recipient and %.0f%% to 100 "
                    "(medians): %s\n",
                    kHistoryTargetMs, (kHistoryTargetRatio - 1) * 100, met ? "met" : "MISSED");
    }

    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
