// IPv6, and names with several addresses: every address is tried in turn until one connects.
// kName resolves through a socket library of the test's own ("ADDRESSES.DLL", the system's
// otherwise: no name here has both an IPv4 and an IPv6 address, and /etc/hosts stays as it is),
// which also makes addresses "unreachable" (10051 on the connect notification), "silent", or
// "unsupported" (no IPv6 socket: 10047). "refused" addresses are real: a socket bound without
// listening at the server's port.

#include "port_events.h"
#include "support/refused_port.h"

#include <QTest>

#include <arpa/inet.h>
#include <cstring>
#include <map>
#include <memory>
#include <netinet/tcp.h>
#include <set>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

const char kName[] = "pager.test";

QStringList g_addresses;                  // what kName resolves to, in this order
QMap<QString, QString> g_behaviour;       // address text: unreachable or silent
bool g_noIpv6 = false;                    // no IPv6 socket can be had
std::map<Socket, WindowHandle> g_windows; // where each socket's notifications go
std::set<const addrinfo*> g_ourLists;

QString textOf(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes =
        address->sa_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    return QString::fromLatin1(::inet_ntop(address->sa_family, bytes, text, sizeof text));
}

struct Node {
    addrinfo info{};
    SocketAddress address{};
};

int scriptedGetaddrinfo(const char* node, const char* service, const addrinfo* hints,
                        addrinfo** result) {
    if (node == nullptr || std::strcmp(node, kName) != 0) {
        return posix<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>(201)(
            node, service, hints, result);
    }
    addrinfo* first = nullptr;
    addrinfo** next = &first;
    for (const QString& text : g_addresses) {
        auto* n = new Node;
        const bool v6 = text.contains(':');
        n->address.any.sa_family = v6 ? AF_INET6 : AF_INET;
        ::inet_pton(n->address.any.sa_family, qPrintable(text),
                    v6 ? static_cast<void*>(&n->address.v6.sin6_addr)
                       : static_cast<void*>(&n->address.v4.sin_addr));
        n->info.ai_family = n->address.any.sa_family;
        n->info.ai_socktype = SOCK_STREAM;
        n->info.ai_addrlen = static_cast<socklen_t>(addressLength(n->address));
        n->info.ai_addr = &n->address.any;
        *next = &n->info;
        next = &n->info.ai_next;
    }
    g_ourLists.insert(first);
    *result = first;
    return 0;
}

void scriptedFreeaddrinfo(addrinfo* list) {
    if (g_ourLists.erase(list) == 0) {
        posix<void (*)(addrinfo*)>(202)(list);
        return;
    }
    while (list != nullptr) {
        addrinfo* following = list->ai_next;
        delete reinterpret_cast<Node*>(list); // info is the first member
        list = following;
    }
}

Socket scriptedSocket(int family, int type, int protocol) {
    if (family == AF_INET6 && g_noIpv6) {
        ws().WSASetLastError(kWsaEAfNoSupport);
        return kInvalidSocket;
    }
    return posix<Socket (*)(int, int, int)>(23)(family, type, protocol);
}

int scriptedAsyncSelect(Socket s, WindowHandle window, unsigned message, long events) {
    g_windows[s] = window;
    return posix<int (*)(Socket, WindowHandle, unsigned, long)>(101)(s, window, message, events);
}

int scriptedConnect(Socket s, const sockaddr* address, int length) {
    const QString behaviour = g_behaviour.value(textOf(address));
    if (behaviour == "unreachable") {
        postMessage(g_windows[s], kSocketMessage, s, makeSelectReply(kFdConnect, 10051));
    }
    if (behaviour == "unreachable" || behaviour == "silent") {
        ws().WSASetLastError(kWsaEWouldBlock);
        return kSocketError;
    }
    return posix<int (*)(Socket, const sockaddr*, int)>(4)(s, address, length);
}

AnyProc scriptedProc(int ordinal) noexcept {
    switch (ordinal) {
    case 4:
        return reinterpret_cast<AnyProc>(&scriptedConnect);
    case 23:
        return reinterpret_cast<AnyProc>(&scriptedSocket);
    case 101:
        return reinterpret_cast<AnyProc>(&scriptedAsyncSelect);
    case 201:
        return reinterpret_cast<AnyProc>(&scriptedGetaddrinfo);
    case 202:
        return reinterpret_cast<AnyProc>(&scriptedFreeaddrinfo);
    default:
        return posixSocketProc(ordinal);
    }
}
const SocketModule kScriptedModule = {"ADDRESSES.DLL", scriptedProc};

struct ScriptedLibrary {
    ScriptedLibrary() {
        registerSocketModule(kScriptedModule);
        setLibraryPath(kScriptedModule.path);
    }
    ~ScriptedLibrary() {
        setLibraryPath(kDefaultLibraryPath);
        g_addresses.clear();
        g_behaviour.clear();
        g_noIpv6 = false;
        g_windows.clear();
    }
};

} // namespace

class AddressesTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    // Each address as "text role": the server, refused (a real refusal), unreachable, silent
    // or unsupported. RemoteHost reads the address in use, or the one tried last.
    void addressesInTurn_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("expected"); // with "Close": the owner closes at once
        QTest::addColumn<QString>("inUse");
        const QStringList greeted = opened({"DataIn(true,220 hi\\r\\n)"});
        QTest::newRow("IPv6 literal") << "::1" << QStringList{"::1 server"} << greeted << "::1";
        QTest::newRow("IPv6 literal in brackets")
            << "[::1]" << QStringList{"::1 server"} << greeted << "::1";
        QTest::newRow("IPv6-only name") << kName << QStringList{"::1 server"} << greeted << "::1";
        QTest::newRow("IPv6 refuses, IPv4 answers")
            << kName << QStringList{"::1 refused", "127.0.0.1 server"} << greeted << "127.0.0.1";
        QTest::newRow("IPv4 refuses, IPv6 answers")
            << kName << QStringList{"127.0.0.1 refused", "::1 server"} << greeted << "::1";
        QTest::newRow("unreachable first")
            << kName << QStringList{"2001:db8::1 unreachable", "127.0.0.1 server"} << greeted
            << "127.0.0.1";
        QTest::newRow("no IPv6 on the machine")
            << kName << QStringList{"::1 unsupported", "127.0.0.1 server"} << greeted
            << "127.0.0.1";
        QTest::newRow("all fail: the last one's error")
            << kName << QStringList{"::1 refused", "2001:db8::1 unreachable"}
            << QStringList{"Connected(10051,[10051] Network is unreachable)"} << "2001:db8::1";
        QTest::newRow("all fail, the last one at once")
            << kName << QStringList{"127.0.0.1 refused", "::1 unsupported"}
            << QStringList{"Connected(10047,[10047] Address family not supported by protocol "
                           "family)"}
            << "::1";
        QTest::newRow("closed while the first stays silent")
            << kName << QStringList{"2001:db8::2 silent", "127.0.0.1 server"}
            << QStringList{"Close", kDisconnectedOk} << "2001:db8::2";
    }

    void addressesInTurn() {
        QFETCH(QString, host);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, expected);
        QFETCH(QString, inUse);
        ScriptedLibrary library;
        QString serverAddress;
        QStringList refused;
        for (const QString& entry : addresses) {
            const QString text = entry.section(' ', 0, 0);
            const QString role = entry.section(' ', 1);
            g_addresses << text;
            if (role == "server") {
                serverAddress = text;
            } else if (role == "refused") {
                refused << text;
            } else if (role == "unsupported") {
                g_noIpv6 = true;
            } else {
                g_behaviour[text] = role;
            }
        }
        if (serverAddress.isEmpty()) { // nobody connects to it: it only gives the port
            serverAddress = refused.contains("127.0.0.1") ? "::1" : "127.0.0.1";
        }
        // The refusing addresses at the server's port: a few tries, should another program
        // hold that port on one of them.
        std::unique_ptr<ScriptedServer> server;
        std::vector<std::unique_ptr<RefusedPort>> refusing;
        const auto wanted = static_cast<std::size_t>(refused.size());
        for (int attempt = 0; attempt < 10 && (server == nullptr || refusing.size() < wanted);
             ++attempt) {
            server = std::make_unique<ScriptedServer>(QHostAddress(serverAddress));
            QVERIFY(server->listening());
            refusing.clear();
            for (const QString& text : refused) {
                auto port = std::make_unique<RefusedPort>(QHostAddress(text), server->port());
                if (!port->isValid()) {
                    break;
                }
                refusing.push_back(std::move(port));
            }
        }
        QCOMPARE(refusing.size(), wanted);
        server->setGreeting(Reply::send("220 hi\r\n"));

        TvlmIPPort port;
        PortEvents events;
        events.bind(port);
        port.setRemoteHost(host.toStdString());
        QCOMPARE(port.engine().remoteHostName(), host.toStdString());
        port.setRemotePort(server->port());
        port.setConnected(true);
        const bool closes = expected.first() == "Close";
        if (closes) {
            settle();
            // Not the last address: one that never answers would be given up in seconds.
            int retries = 0;
            int length = sizeof retries;
            ws().getsockopt(port.engine().socket(), IPPROTO_TCP, TCP_SYNCNT,
                            reinterpret_cast<char*>(&retries), &length);
            QCOMPARE(retries, 2);
            port.setConnected(false);
            expected.removeFirst();
        }
        QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), expected.size(), kTimeout);
        settle();
        QCOMPARE(events.log, expected);
        QCOMPARE(QString::fromStdString(port.RemoteHost()), inUse);
        const bool up = expected.startsWith(kConnectedOk);
        QCOMPARE(port.Connected(), up);
        if (up) {
            QCOMPARE(port.LocalHost(), port.RemoteHost()); // loopback: the same address
            QCOMPARE(server->connectionCount(), 1);
            port.setConnected(false);
        } else {
            QCOMPARE(port.engine().socket(), kInvalidSocket);
            QCOMPARE(server->connectionCount(), 0);
        }
    }

    // Only when no address can even start connecting does the write itself fail, with the last
    // one's error, as it does for one address.
    void noAddressCanStart() {
        ScriptedLibrary library;
        g_addresses << "::1"
                    << "::2";
        g_noIpv6 = true;
        TvlmIPPort port;
        PortEvents events;
        events.bind(port);
        port.setRemoteHost(kName);
        port.setRemotePort(444);
        QCOMPARE(refusal([&] { port.setConnected(true); }),
                 "10047: [10047] Address family not supported by protocol family");
        QCOMPARE(port.RemoteHost(), std::string("::2"));
        settle();
        QVERIFY(events.log.isEmpty());
    }
};

DAZOROZ_LOOP_TEST_MAIN(AddressesTest)
#include "test_addresses.moc"
