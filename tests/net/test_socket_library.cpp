// The process-wide socket library: loading, sharing, failures, and the notification window.

#include "net/notification_window.h"
#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "port_events.h"
#include "support/scripted_server.h"

#include <QTest>

#include <memory>

using namespace dazoroz::net;
using dazoroz::net::testing::PortEvents;
using dazoroz::net::testing::settle;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kTimeout = 10000;

// A library whose start-up answers what the test asks for; everything else is the real one.
int g_startupResult = 0;
std::uint16_t g_grantedVersion = kWinsockVersion11;
int g_startups = 0;
int g_cleanups = 0;

int fakeStartup(std::uint16_t requested, WsaData* data) {
    ++g_startups;
    using Startup = int (*)(std::uint16_t, WsaData*);
    reinterpret_cast<Startup>(posixSocketProc(115))(requested, data);
    data->wVersion = g_grantedVersion;
    return g_startupResult;
}
int fakeCleanup() {
    ++g_cleanups;
    using Cleanup = int (*)();
    return reinterpret_cast<Cleanup>(posixSocketProc(116))();
}
AnyProc fakeProc(int ordinal) noexcept {
    switch (ordinal) {
    case 115:
        return reinterpret_cast<AnyProc>(&fakeStartup);
    case 116:
        return reinterpret_cast<AnyProc>(&fakeCleanup);
    case 57:
        return nullptr; // no gethostname: that slot keeps its stub
    default:
        return posixSocketProc(ordinal);
    }
}
const SocketModule kFakeModule = {"FAKESOCK.DLL", fakeProc};

// A library whose sockets refuse one option.
int g_refusedOption = -1;
int refusingSetsockopt(Socket s, int level, int name, const char* value, int length) {
    if (name == g_refusedOption) {
        ws().WSASetLastError(10042);
        return kSocketError;
    }
    using Setsockopt = int (*)(Socket, int, int, const char*, int);
    return reinterpret_cast<Setsockopt>(posixSocketProc(21))(s, level, name, value, length);
}
AnyProc refusingProc(int ordinal) noexcept {
    return ordinal == 21 ? reinterpret_cast<AnyProc>(&refusingSetsockopt)
                         : posixSocketProc(ordinal);
}
const SocketModule kRefusingModule = {"REFUSING.DLL", refusingProc};

// The library as a socket call sees it: the error of creating a socket (0 when one was made).
int socketCallError() {
    const Socket s = ws().socket(AF_INET, SOCK_STREAM, 0);
    if (s == kInvalidSocket) {
        return ws().WSAGetLastError();
    }
    ws().closesocket(s);
    return 0;
}

struct LibraryPath {
    explicit LibraryPath(const char* path) { setLibraryPath(path); }
    ~LibraryPath() { setLibraryPath(kDefaultLibraryPath); }
};

} // namespace

class SocketLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void libraryMissing();
    void twoComponentsShareOneLoad();
    void refusedStartUp_data();
    void refusedStartUp();
    void unresolvedSlotKeepsItsStub();
    void optionRefusedBySocket();
    void staleNotificationIgnored();
    void foreignMessagesIgnored();
    void noSocketLeftBehind();
};

void SocketLibraryTest::init() {
    QCOMPARE(socketLibrary().loadCount, 0);
    g_startupResult = 0;
    g_grantedVersion = kWinsockVersion11;
    g_startups = 0;
    g_cleanups = 0;
}

void SocketLibraryTest::libraryMissing() {
    LibraryPath missing("NOSUCH.DLL");
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    QVERIFY(!port.WinsockLoaded());
    QCOMPARE(port.WinsockInfo(), std::string("Could not load Winsock DLL."));
    QCOMPARE(port.WinsockStatus(), std::string("Down"));
    QCOMPARE(socketLibrary().loadCount, 0);
    QCOMPARE(socketCallError(), 10093);

    // Nothing parses and nothing resolves, silently; the connect then finds no address.
    for (const char* host : {"localhost", "10.0.0.1", "nosuch.invalid"}) {
        port.setRemoteHost(host);
        QCOMPARE(port.RemoteHost(), std::string());
    }
    port.setRemotePort(444);
    try {
        port.setConnected(true);
        QFAIL("connect without a library succeeded");
    } catch (const EvlmIPPort& e) {
        QCOMPARE(e.Code, 102);
        QCOMPARE(std::string(e.what()), "102: The RemoteHost address is invalid (0.0.0.0).");
    }
    QCOMPARE(port.LocalHost(), std::string("[10093] Winsock not loaded yet (WSANOTINITIALISED)"));
    port.setWinsockLoaded(true); // still missing: never fails, stays false
    QVERIFY(!port.WinsockLoaded());
    settle();
    QVERIFY(events.log.isEmpty());

    setLibraryPath(kDefaultLibraryPath);
    port.setWinsockLoaded(true);
    QVERIFY(port.WinsockLoaded());
    QCOMPARE(port.WinsockStatus(), std::string("Running"));
    port.setRemoteHost("localhost");
    QCOMPARE(port.RemoteHost(), std::string("127.0.0.1"));
}

void SocketLibraryTest::twoComponentsShareOneLoad() {
    auto first = std::make_unique<TvlmIPPort>();
    QCOMPARE(socketLibrary().loadCount, 1);
    auto second = std::make_unique<TvlmIPPort>();
    QCOMPARE(socketLibrary().loadCount, 2);
    QVERIFY(first->WinsockLoaded() && second->WinsockLoaded());

    first.reset();
    QCOMPARE(socketLibrary().loadCount, 1);
    QCOMPARE(socketCallError(), 0); // still resolved for the other one
    QCOMPARE(second->WinsockStatus(), std::string("Running"));
    ScriptedServer server;
    server.setGreeting(Reply::send("220 hi\r\n"));
    PortEvents events;
    events.bind(*second);
    second->setRemoteHost("127.0.0.1");
    second->setRemotePort(server.port());
    second->setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 1, kTimeout);

    second.reset(); // destroyed while connected: no event
    QCOMPARE(events.log,
             (QStringList{"Connected(0,OK)", "ReadyToSend", "DataIn(true,220 hi\\r\\n)"}));
    QCOMPARE(socketLibrary().loadCount, 0);
    QCOMPARE(socketLibrary().module, nullptr);
    QCOMPARE(socketCallError(), 10093); // the stubs are back
    QCOMPARE(std::string(socketLibrary().startup.szSystemStatus), std::string("Down"));
    QCOMPARE(std::string(socketLibrary().startup.szDescription), std::string());
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(0), kTimeout);
}

void SocketLibraryTest::refusedStartUp_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("info");
    QTest::newRow("not ready") << 10091 << 0x0101 << "Network subsystem not ready.";
    QTest::newRow("version out of range") << 10092 << 0x0101 << "Version not supported.";
    QTest::newRow("invalid argument") << 10022 << 0x0101 << "Version not supported.";
    QTest::newRow("other version granted") << 0 << 0x0002 << "Incompatible Winsock version.";
}

void SocketLibraryTest::refusedStartUp() {
    QFETCH(int, result);
    QFETCH(int, version);
    QFETCH(QString, info);
    registerSocketModule(kFakeModule);
    LibraryPath fake("fakesock.dll");
    g_startupResult = result;
    g_grantedVersion = static_cast<std::uint16_t>(version);
    {
        TvlmIPPort port;
        QVERIFY(!port.WinsockLoaded());
        QCOMPARE(QString::fromStdString(port.WinsockInfo()), info);
        QCOMPARE(port.WinsockStatus(), std::string("Down"));
        // Every refusal gives its reference back: nothing stays loaded.
        QCOMPARE(socketLibrary().loadCount, 0);
        QVERIFY(g_startups > 0);
        QCOMPARE(g_cleanups, g_startups);
        QCOMPARE(socketCallError(), 10093);
        port.setWinsockLoaded(true); // tries again, fails again the same way
        QVERIFY(!port.WinsockLoaded());
        QCOMPARE(QString::fromStdString(port.WinsockInfo()), info);
        QCOMPARE(socketLibrary().loadCount, 0);
    }
    QCOMPARE(g_cleanups, g_startups);
}

void SocketLibraryTest::unresolvedSlotKeepsItsStub() {
    registerSocketModule(kFakeModule);
    LibraryPath fake("FAKESOCK.DLL");
    TvlmIPPort port;
    QVERIFY(port.WinsockLoaded());
    QCOMPARE(socketCallError(), 0);
    char name[64];
    QCOMPARE(ws().gethostname(name, sizeof name), kSocketError);
}

void SocketLibraryTest::optionRefusedBySocket() {
    registerSocketModule(kRefusingModule);
    LibraryPath refusing("REFUSING.DLL");
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    const auto refusal = [](auto action) {
        try {
            action();
        } catch (const EvlmIPPort& e) {
            return QString::fromLatin1(e.what());
        }
        return QString();
    };
    const QString bad = QStringLiteral("10042: [10042] Bad protocol option");

    // Refused options do not stop a connect.
    g_refusedOption = SO_KEEPALIVE;
    port.setKeepAlive(true);
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(server.port());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    QVERIFY(port.Connected());

    // Keep-alive takes what the socket reports after the refusal.
    QCOMPARE(refusal([&] { port.setKeepAlive(true); }), bad);
    QVERIFY(!port.KeepAlive());
    // Linger keeps its old value.
    g_refusedOption = SO_LINGER;
    QCOMPARE(refusal([&] { port.setLinger(false); }), bad);
    QVERIFY(port.Linger());
    // The buffer sizes keep the requested value.
    g_refusedOption = SO_RCVBUF;
    QCOMPARE(refusal([&] { port.setInBufferSize(4096); }), bad);
    QCOMPARE(port.InBufferSize(), 4096);
    g_refusedOption = SO_SNDBUF;
    QCOMPARE(refusal([&] { port.setOutBufferSize(8192); }), bad);
    QCOMPARE(port.OutBufferSize(), 8192);
    g_refusedOption = -1;
    port.setConnected(false);
    // Without a socket every write is just stored.
    g_refusedOption = SO_LINGER;
    port.setLinger(false);
    QVERIFY(!port.Linger());
    g_refusedOption = -1;
}

void SocketLibraryTest::staleNotificationIgnored() {
    ScriptedServer server;
    server.setGreeting(Reply::send("220 hi\r\n"));
    server.setResponder([](const QByteArray&, int) { return Reply::send("250 ok\r\n"); });
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(server.port());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 1, kTimeout);
    const Socket old = port.engine().socket();
    port.setConnected(false);
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 2, kTimeout);
    QVERIFY(port.engine().socket() != old);
    events.log.clear();

    const WindowHandle window = port.engine().window();
    for (const long event : {kFdRead, kFdWrite, kFdConnect, kFdClose}) {
        QVERIFY(postMessage(window, kSocketMessage, old, makeSelectReply(event, 10054)));
    }
    settle();
    QVERIFY(events.log.isEmpty());
    QVERIFY(port.Connected());

    port.setDataOut("PING\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(events.log, QStringList{"DataIn(true,250 ok\\r\\n)"}, kTimeout);
    port.setConnected(false);
}

void SocketLibraryTest::foreignMessagesIgnored() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(server.port());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    const WindowHandle window = port.engine().window();
    const Socket current = port.engine().socket();
    postMessage(window, kSocketMessage, current, makeSelectReply(kFdOob, 0)); // not ours
    postMessage(window, kSocketMessage, current, makeSelectReply(kFdRead | kFdClose, 0));
    postMessage(window, kSocketMessage + 1, current, makeSelectReply(kFdClose, 0));
    postMessage(window, kWmUser, current, makeSelectReply(kFdRead, 0));
    settle();
    QCOMPARE(events.log.size(), 2);
    QVERIFY(port.Connected());
    // A write notification for the current socket is passed on as it is.
    QCOMPARE(sendMessage(window, kSocketMessage, current, makeSelectReply(kFdWrite, 0)), 0);
    QCOMPARE(events.log.back(), QStringLiteral("ReadyToSend"));
    port.setConnected(false);
}

void SocketLibraryTest::noSocketLeftBehind() {
    QCOMPARE(posixOpenSocketCount(), std::size_t{0});
}

QTEST_GUILESS_MAIN(SocketLibraryTest)
#include "test_socket_library.moc"
