// Where the time of a TLS connection goes, without sockets or a second process: loading
// OpenSSL (once per process), making a client context with a CA file (once per send), and the
// handshake itself, client and server sessions in this process passing their bytes to each
// other in memory (so the figure holds both sides' work).
//
//   bench_tls_handshake [handshakes] (default 200)
//
// The certificates come from the tests' make-test-pki.sh (EC P-256), made in a scratch folder.

#include "net/tls_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

using Clock = std::chrono::steady_clock;
using dazoroz::net::TlsContext;
using dazoroz::net::TlsSession;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void check(bool ok, const char* what, int error) {
    if (!ok) {
        std::fprintf(stderr, "bench_tls_handshake: %s failed (%d)\n", what, error);
        std::exit(1);
    }
}

// Hands one side's outgoing bytes to the other.
void pass(TlsSession& from, TlsSession& to) {
    const std::string_view bytes = from.outgoing();
    if (!bytes.empty()) {
        to.putIncoming(bytes.data(), bytes.size());
        from.sent(bytes.size());
    }
}

void handshake(const std::shared_ptr<TlsContext>& clientContext,
               const std::shared_ptr<TlsContext>& serverContext) {
    int error = 0;
    const auto client = TlsSession::client(clientContext, "localhost", error);
    check(client != nullptr, "client session", error);
    const auto server = TlsSession::server(serverContext, error);
    check(server != nullptr, "server session", error);
    for (int round = 0; round < 10; ++round) {
        client->handshake();
        pass(*client, *server);
        server->handshake();
        pass(*server, *client);
        if (client->state() == TlsSession::State::Open &&
            server->state() == TlsSession::State::Open) {
            return;
        }
    }
    check(false, "handshake", client->failure() != 0 ? client->failure() : server->failure());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int handshakes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const std::filesystem::path pki =
        std::filesystem::temp_directory_path() / ("bench_tls_" + std::to_string(::getpid()));
    const std::string make =
        std::string("bash ") + MAKE_TEST_PKI + " " + pki.string() + " >/dev/null 2>&1";
    check(std::system(make.c_str()) == 0, "make-test-pki.sh", 0);
    const std::string ca = (pki / "ca.pem").string();

    int error = 0;
    Clock::time_point start = Clock::now();
    auto clientContext = TlsContext::client(ca, error);
    const double first = millisecondsSince(start);
    check(clientContext != nullptr, "client context", error);
    const auto serverContext =
        TlsContext::server((pki / "server.pem").string(), (pki / "server.key").string(), error);
    check(serverContext != nullptr, "server context", error);

    std::vector<double> contexts;
    std::vector<double> times;
    handshake(clientContext, serverContext); // warm-up
    for (int i = 0; i < handshakes; ++i) {
        start = Clock::now();
        clientContext = TlsContext::client(ca, error);
        contexts.push_back(millisecondsSince(start));
        start = Clock::now();
        handshake(clientContext, serverContext);
        times.push_back(millisecondsSince(start));
    }
    std::filesystem::remove_all(pki);

    std::printf("TLS, milliseconds (medians of %d):\n", handshakes);
    std::printf("  first client context (loads OpenSSL)  %7.3f\n", first);
    std::printf("  client context with a CA file         %7.3f\n", median(contexts));
    std::printf("  handshake, client and server           %7.3f\n", median(times));
    return 0;
}
