// The process-wide socket library: loading, sharing, failures, and the notification window.

#include "net/notification_window.h"
#include "port_events.h"

#include <QTest>

#include <memory>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

// A library whose start-up answers what the test asks for; everything else is the real one.
int g_startupResult = 0;
std::uint16_t g_grantedVersion = kWinsockVersion11;
int g_startups = 0;
int g_cleanups = 0;

int fakeStartup(std::uint16_t requested, WsaData* data) {
    ++g_startups;
    posix<int (*)(std::uint16_t, WsaData*)>(115)(requested, data);
    data->wVersion = g_grantedVersion;
    return g_startupResult;
}
int fakeCleanup() {
    ++g_cleanups;
    return posix<int (*)()>(116)();
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
    return posix<int (*)(Socket, int, int, const char*, int)>(21)(s, level, name, value, length);
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
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    void init() {
        QCOMPARE(socketLibrary().loadCount, 0);
        g_startupResult = 0;
        g_grantedVersion = kWinsockVersion11;
        g_startups = 0;
        g_cleanups = 0;
    }

    void libraryMissing() {
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
        QCOMPARE(refusal([&] { port.setConnected(true); }),
                 "102: The RemoteHost address is invalid (0.0.0.0).");
        QCOMPARE(port.LocalHost(),
                 std::string("[10093] Winsock not loaded yet (WSANOTINITIALISED)"));
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

    void twoComponentsShareOneLoad() {
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
        QCOMPARE(events.log, opened({"DataIn(true,220 hi\\r\\n)"}));
        QCOMPARE(socketLibrary().loadCount, 0);
        QCOMPARE(socketLibrary().module, nullptr);
        QCOMPARE(socketCallError(), 10093); // the stubs are back
        QCOMPARE(std::string(socketLibrary().startup.szSystemStatus), std::string("Down"));
        QCOMPARE(std::string(socketLibrary().startup.szDescription), std::string());
        QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(0), kTimeout);
    }

    void refusedStartUp_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("info");
        QTest::newRow("not ready") << 10091 << 0x0101 << "Network subsystem not ready.";
        QTest::newRow("version out of range") << 10092 << 0x0101 << "Version not supported.";
        QTest::newRow("invalid argument") << 10022 << 0x0101 << "Version not supported.";
        QTest::newRow("other version granted") << 0 << 0x0002 << "Incompatible Winsock version.";
    }

    void refusedStartUp() {
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

    void unresolvedSlotKeepsItsStub() {
        registerSocketModule(kFakeModule);
        LibraryPath fake("FAKESOCK.DLL");
        TvlmIPPort port;
        QVERIFY(port.WinsockLoaded());
        QCOMPARE(socketCallError(), 0);
        char name[64];
        QCOMPARE(ws().gethostname(name, sizeof name), kSocketError);
    }

    // A write that the socket refuses fails with its error; the property then holds what the
    // socket reports (KeepAlive), its old value (Linger) or the requested value (buffer sizes).
    // Refused options do not stop a connect, and without a socket every write is just stored.
    void optionRefusedBySocket_data() {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("write");
        QTest::addColumn<QString>("after"); // KeepAlive Linger InBufferSize OutBufferSize
        QTest::newRow("KeepAlive") << SO_KEEPALIVE << "KeepAlive=1"
                                   << "0 1 2048 2048";
        QTest::newRow("Linger") << SO_LINGER << "Linger=0"
                                << "1 1 2048 2048";
        QTest::newRow("InBufferSize") << SO_RCVBUF << "InBufferSize=4096"
                                      << "1 1 4096 2048";
        QTest::newRow("OutBufferSize") << SO_SNDBUF << "OutBufferSize=8192"
                                       << "1 1 2048 8192";
    }

    void optionRefusedBySocket() {
        QFETCH(int, option);
        QFETCH(QString, write);
        QFETCH(QString, after);
        registerSocketModule(kRefusingModule);
        LibraryPath refusing("REFUSING.DLL");
        Harness h;
        h.port.setKeepAlive(true);
        g_refusedOption = option;
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);

        QCOMPARE(refusal([&] { testing::write(h.port, write); }),
                 "10042: [10042] Bad protocol option");
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(h.port.KeepAlive())
                     .arg(h.port.Linger())
                     .arg(h.port.InBufferSize())
                     .arg(h.port.OutBufferSize()),
                 after);
        h.port.setConnected(false);
        QCOMPARE(refusal([&] { testing::write(h.port, write); }), QString());
        g_refusedOption = -1;
    }

    // Notifications of a socket closed since (a newer one is open), and messages that are no
    // notification of ours, are ignored.
    void notificationsNotForTheCurrentSocketIgnored() {
        Harness h;
        h.server.setGreeting(Reply::send("220 hi\r\n"));
        h.server.setResponder([](const QByteArray&, int) { return Reply::send("250 ok\r\n"); });
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 1, kTimeout);
        const Socket old = h.port.engine().socket();
        h.port.setConnected(false);
        h.port.setConnected(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
        const Socket current = h.port.engine().socket();
        QVERIFY(current != old);
        h.events.log.clear();

        const WindowHandle window = h.port.engine().window();
        for (const long event : {kFdRead, kFdWrite, kFdConnect, kFdClose}) {
            QVERIFY(postMessage(window, kSocketMessage, old, makeSelectReply(event, 10054)));
        }
        postMessage(window, kSocketMessage, current, makeSelectReply(kFdOob, 0));
        postMessage(window, kSocketMessage, current, makeSelectReply(kFdRead | kFdClose, 0));
        postMessage(window, kSocketMessage + 1, current, makeSelectReply(kFdClose, 0));
        postMessage(window, kWmUser, current, makeSelectReply(kFdRead, 0));
        settle();
        QVERIFY(h.events.log.isEmpty());
        QVERIFY(h.port.Connected());

        // A write notification for the current socket is passed on as it is; data still comes.
        QCOMPARE(sendMessage(window, kSocketMessage, current, makeSelectReply(kFdWrite, 0)), 0);
        h.port.setDataOut("PING\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, (QStringList{kReady, "DataIn(true,250 ok\\r\\n)"}),
                                  kTimeout);
        h.port.setConnected(false);
    }
};

DAZOROZ_LOOP_TEST_MAIN(SocketLibraryTest)
#include "test_socket_library.moc"