// The TCP client port against real sockets on 127.0.0.1 and an in-process scripted server.

#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "port_events.h"
#include "support/scripted_server.h"

#include <QTest>

#include <memory>

using dazoroz::net::EvlmIPPort;
using dazoroz::net::kInvalidSocket;
using dazoroz::net::TvlmIPPort;
using dazoroz::net::testing::PortEvents;
using dazoroz::net::testing::settle;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kTimeout = 10000;

const QString kConnectedOk = QStringLiteral("Connected(0,OK)");
const QString kReady = QStringLiteral("ReadyToSend");
const QString kDisconnectedOk = QStringLiteral("Disconnected(0,OK)");

void startConnect(TvlmIPPort& port, quint16 serverPort) {
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(serverPort);
    port.setConnected(true);
}

// The code and message of the EvlmIPPort that action throws; {0, ""} when it throws none.
template <typename Action> std::pair<int, QString> refusal(Action action) {
    try {
        action();
    } catch (const EvlmIPPort& e) {
        return {e.Code, QString::fromStdString(e.what())};
    }
    return {0, QString()};
}

using Action = std::function<void(TvlmIPPort&)>;

} // namespace

class PortTest : public QObject {
    Q_OBJECT

private slots:
    void replyChunksWithEmptyEol_data();
    void replyChunksWithEmptyEol();
    void secondConnectWhileConnecting();
    void dataOutBeforeConnected();
    void closeWhileIdleFiresNothing();
    void closeInsideDataInIsDeferred();
    void refusedConnect_data();
    void refusedConnect();
    void remoteHostForms_data();
    void remoteHostForms();
    void guardsWhileSocketExists_data();
    void guardsWhileSocketExists();
    void connectPreconditions_data();
    void connectPreconditions();
    void resetByPeer_data();
    void resetByPeer();
    void resetWithDataUnread_data();
    void resetWithDataUnread();
    void orderlyPeerClose();
    void eolChangeWhileConnectedRescans();
    void eolChangedInsideDataIn();
    void partialSendThenReadyToSend();
    void localHostAndPort();
    void socketOptionsApplied();
    void propertyRangeChecks_data();
    void propertyRangeChecks();
    void reconnectAfterClose();
    void unloadingLibraryClosesConnection();
    void nestedEventLoopInsideDataIn();
    void bindFailureLeavesNoSocket();
    void cleanupTestCase() { QCOMPARE(dazoroz::net::posixOpenSocketCount(), std::size_t{0}); }
};

void PortTest::replyChunksWithEmptyEol_data() {
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one reply") << QList<QByteArray>{"220 ready\r\n"}
                               << QStringList{kConnectedOk, kReady, "DataIn(true,220 ready\\r\\n)"};
    QTest::newRow("two replies in one segment")
        << QList<QByteArray>{"250 ok\r\n250 ok too\r\n"}
        << QStringList{kConnectedOk, kReady, "DataIn(true,250 ok\\r\\n250 ok too\\r\\n)"};
    QTest::newRow("one reply in two segments")
        << QList<QByteArray>{"220 rea", "dy\r\n"}
        << QStringList{kConnectedOk, kReady, "DataIn(true,220 rea)", "DataIn(true,dy\\r\\n)"};
}

void PortTest::replyChunksWithEmptyEol() {
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, expected);
    ScriptedServer server;
    QVERIFY(server.listening());
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);

    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    // Each segment is sent once the previous one has been delivered, so none can merge.
    for (int i = 0; i < writes.size(); ++i) {
        server.send(0, writes[i]);
        QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, i + 1, kTimeout);
    }
    port.setConnected(false);
    expected << kDisconnectedOk;
    QCOMPARE(events.log, expected);
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(0), kTimeout);
}

void PortTest::secondConnectWhileConnecting() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QVERIFY(!port.Connected());
    const auto [code, message] = refusal([&] { port.setConnected(true); });
    QCOMPARE(code, 104);
    QCOMPARE(message, QStringLiteral("104: Already connected. If you want to reconnect, close the "
                                     "current connection first."));
    QVERIFY(!port.Connected());
    QTRY_COMPARE_WITH_TIMEOUT(events.log, (QStringList{kConnectedOk, kReady}), kTimeout);
    QVERIFY(port.Connected());
    QCOMPARE(refusal([&] { port.setConnected(true); }).first, 104);
}

void PortTest::dataOutBeforeConnected() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    const QString notConnected = QStringLiteral("10057: [10057] Socket is not connected");
    QCOMPARE(refusal([&] { port.setDataOut("PAGE 1\r\n"); }), std::make_pair(10057, notConnected));
    startConnect(port, server.port());
    QCOMPARE(refusal([&] { port.setDataOut("PAGE 1\r\n"); }), std::make_pair(10057, notConnected));
    QCOMPARE(refusal([&] { port.setDataOut(""); }), std::make_pair(10057, notConnected));
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);

    port.setDataOut(""); // connected: nothing is sent, no error
    port.setDataOut(std::string("PAGE 1\r\n\0x", 10));
    QTRY_COMPARE_WITH_TIMEOUT(server.received(0), QByteArray("PAGE 1\r\n\0x", 10), kTimeout);
    port.setConnected(false);
    QCOMPARE(refusal([&] { port.setDataOut("x"); }), std::make_pair(10057, notConnected));
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, kDisconnectedOk}));
}

void PortTest::closeWhileIdleFiresNothing() {
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setConnected(false);
    port.setConnected(false);
    settle();
    QVERIFY(events.log.isEmpty());
    QVERIFY(!port.Connected());
}

void PortTest::closeInsideDataInIsDeferred() {
    ScriptedServer server;
    server.setGreeting(Reply::send("a\r\nb\r\nc"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    QStringList seenInHandler;
    events.onDataIn = [&](TvlmIPPort& p, const std::string& text, bool) {
        if (text == "a") {
            p.setConnected(false);
            seenInHandler << QStringLiteral("connected=%1 pending=%2 events=%3")
                                 .arg(p.Connected())
                                 .arg(p.engine().closePending())
                                 .arg(events.log.size());
        }
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)",
                                      "DataIn(false,c)", kDisconnectedOk}));
    QCOMPARE(seenInHandler, QStringList{"connected=1 pending=1 events=3"});
    QVERIFY(!port.Connected());
    QCOMPARE(port.engine().socket(), kInvalidSocket);
    QVERIFY(!port.engine().pumpRunning());
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(0), kTimeout);
}

void PortTest::refusedConnect_data() {
    QTest::addColumn<bool>("closeInHandler");
    QTest::addColumn<QStringList>("expected");
    const QString refused = QStringLiteral("Connected(10061,[10061] Connection refused)");
    QTest::newRow("handler leaves it") << false << QStringList{refused};
    QTest::newRow("handler closes") << true << QStringList{refused, kDisconnectedOk};
}

void PortTest::refusedConnect() {
    QFETCH(bool, closeInHandler);
    QFETCH(QStringList, expected);
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    bool connectedInHandler = false;
    events.onConnected = [&](TvlmIPPort& p, int, const std::string&) {
        connectedInHandler = p.Connected();
        if (closeInHandler) {
            p.setConnected(false);
        }
    };
    startConnect(port, ScriptedServer::refusedPort());
    QTRY_VERIFY_WITH_TIMEOUT(!events.log.isEmpty(), kTimeout);
    settle();
    QCOMPARE(events.log, expected);
    QVERIFY(connectedInHandler);
    QVERIFY(!port.Connected());
    QCOMPARE(port.engine().socket(), kInvalidSocket);

    // The port is idle again: a new connect is accepted.
    ScriptedServer server;
    port.setRemotePort(server.port());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), expected.size() + 2, kTimeout);
}

void PortTest::remoteHostForms_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("readBack");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("dotted") << "10.0.0.1"
                            << "10.0.0.1" << 0 << "";
    QTest::newRow("loopback dotted") << "127.0.0.1"
                                     << "127.0.0.1" << 0 << "";
    QTest::newRow("localhost") << "localhost"
                               << "127.0.0.1" << 0 << "";
    QTest::newRow("empty") << ""
                           << "" << 0 << "";
    QTest::newRow("reserved invalid domain") << "nosuch.invalid"
                                             << "" << 11001 << "11001: [11001] Host not found";
    QTest::newRow("bare invalid") << "INVALID"
                                  << "" << 11001 << "11001: [11001] Host not found";
}

void PortTest::remoteHostForms() {
    QFETCH(QString, host);
    QFETCH(QString, readBack);
    QFETCH(int, code);
    QFETCH(QString, message);
    TvlmIPPort port;
    port.setRemoteHost("10.9.8.7");
    const auto [thrown, text] = refusal([&] { port.setRemoteHost(host.toStdString()); });
    QCOMPARE(thrown, code);
    QCOMPARE(text, message);
    QCOMPARE(QString::fromStdString(port.RemoteHost()), readBack);
}

void PortTest::guardsWhileSocketExists_data() {
    QTest::addColumn<Action>("write");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("RemotePort") << Action([](TvlmIPPort& p) { p.setRemotePort(1); }) << 100
                                << "100: You cannot change the RemotePort at this time. A "
                                   "connection is in progress.";
    QTest::newRow("RemoteHost") << Action([](TvlmIPPort& p) { p.setRemoteHost("10.0.0.1"); }) << 101
                                << "101: You cannot change the RemoteHost at this time. A "
                                   "connection is in progress.";
    QTest::newRow("LocalPort") << Action([](TvlmIPPort& p) { p.setLocalPort(1); }) << 106
                               << "106: You cannot change the LocalPort at this time. A "
                                  "connection is in progress.";
    QTest::newRow("MaxLineLength") << Action([](TvlmIPPort& p) { p.setMaxLineLength(100); }) << 112
                                   << "112: You cannot change MaxLineSize at this time. A "
                                      "connection is in progress.";
    QTest::newRow("Connected") << Action([](TvlmIPPort& p) { p.setConnected(true); }) << 104
                               << "104: Already connected. If you want to reconnect, close the "
                                  "current connection first.";
}

void PortTest::guardsWhileSocketExists() {
    QFETCH(Action, write);
    QFETCH(int, code);
    QFETCH(QString, message);
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    const auto snapshot = [&] {
        return QStringList{QString::fromStdString(port.RemoteHost()),
                           QString::number(port.RemotePort()),
                           QString::number(port.MaxLineLength())};
    };
    const QStringList before = snapshot();
    // Refused while connecting and again once connected; nothing changes.
    QCOMPARE(refusal([&] { write(port); }), std::make_pair(code, message));
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    QCOMPARE(refusal([&] { write(port); }), std::make_pair(code, message));
    QCOMPARE(snapshot(), before);
    QVERIFY(port.Connected());
    port.setConnected(false);
    write(port); // accepted once the socket is gone
}

void PortTest::connectPreconditions_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("no address") << "" << 444 << 102
                                << "102: The RemoteHost address is invalid (0.0.0.0).";
    QTest::newRow("no address, no port")
        << "" << 0 << 102 << "102: The RemoteHost address is invalid (0.0.0.0).";
    QTest::newRow("port zero") << "127.0.0.1" << 0 << 116
                               << "116: RemotePort can't be zero. Please specify a valid service "
                                  "port number.";
}

void PortTest::connectPreconditions() {
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, code);
    QFETCH(QString, message);
    TvlmIPPort ipport;
    PortEvents events;
    events.bind(ipport);
    ipport.setRemoteHost(host.toStdString());
    ipport.setRemotePort(static_cast<std::uint16_t>(port));
    QCOMPARE(refusal([&] { ipport.setConnected(true); }), std::make_pair(code, message));
    QCOMPARE(ipport.engine().socket(), kInvalidSocket);
    settle();
    QVERIFY(events.log.isEmpty());
}

void PortTest::resetByPeer_data() {
    QTest::addColumn<bool>("closeInOnError");
    QTest::addColumn<QStringList>("expected");
    const QString error = QStringLiteral("Error(10054,Winsock error in recv())");
    QTest::newRow("handler leaves it")
        << false
        << QStringList{kConnectedOk, kReady, "DataIn(true,220 hi\\r\\n)", error,
                       "Disconnected(10054,[10054] Connection reset by peer)"};
    QTest::newRow("handler closes")
        << true
        << QStringList{kConnectedOk, kReady, "DataIn(true,220 hi\\r\\n)", error, kDisconnectedOk};
}

void PortTest::resetByPeer() {
    QFETCH(bool, closeInOnError);
    QFETCH(QStringList, expected);
    ScriptedServer server;
    server.setGreeting(Reply::send("220 hi\r\n"));
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    events.onError = [&](TvlmIPPort& p, int, const std::string&) {
        if (closeInOnError) {
            p.setConnected(false);
        }
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 1, kTimeout);
    server.resetConnection(0);
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(events.log, expected);
    QVERIFY(!port.Connected());
    QCOMPARE(port.engine().socket(), kInvalidSocket);
}

// Data and the reset arrive before the client reads: the read notification's pump delivers the
// data, then its next read fails. A close from OnError is carried out once the handler returns;
// without one, the close notification follows and its drain fails the same way again.
void PortTest::resetWithDataUnread_data() {
    QTest::addColumn<bool>("closeInOnError");
    QTest::addColumn<QStringList>("expected");
    const QString error = QStringLiteral("Error(10054,Winsock error in recv())");
    QTest::newRow("handler closes")
        << true
        << QStringList{kConnectedOk, kReady, "DataIn(true,250 ok\\r\\n)", error, kDisconnectedOk};
    QTest::newRow("handler leaves it")
        << false
        << QStringList{
               kConnectedOk, kReady, "DataIn(true,250 ok\\r\\n)",
               error,        error,  "Disconnected(10054,[10054] Connection reset by peer)"};
}

void PortTest::resetWithDataUnread() {
    QFETCH(bool, closeInOnError);
    QFETCH(QStringList, expected);
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    events.onError = [&](TvlmIPPort& p, int, const std::string&) {
        if (closeInOnError) {
            QVERIFY(p.engine().pumpRunning());
            p.setConnected(false);
            QVERIFY(p.Connected()); // carried out after this handler
        }
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, kTimeout);
    server.send(0, "250 ok\r\n");
    server.resetConnection(0); // before the client has had a chance to read
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(events.log, expected);
}

void PortTest::orderlyPeerClose() {
    ScriptedServer server;
    server.setGreeting(Reply::send("220 hi\r\n"));
    server.setResponder([](const QByteArray& line, int) {
        return line == "QUIT" ? Reply::close("221 bye\r\n") : Reply::silence();
    });
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    events.onDataIn = [](TvlmIPPort& p, const std::string& text, bool) {
        if (text.starts_with("220")) {
            p.setDataOut("QUIT\r\n");
        }
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,220 hi\\r\\n)",
                                      "DataIn(true,221 bye\\r\\n)", kDisconnectedOk}));
    QVERIFY(!port.Connected());
}

void PortTest::eolChangeWhileConnectedRescans() {
    ScriptedServer server;
    server.setGreeting(Reply::send("a|b|c"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    // Nothing is delivered while the bytes hold no terminator.
    QTRY_COMPARE_WITH_TIMEOUT(port.engine().buffer().count(), 5, kTimeout);
    QCOMPARE(events.dataInCount, 0);
    port.setEOL("|");
    QCOMPARE(port.EOL(), std::string("|"));
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 2, kTimeout);
    server.closeConnection(0);
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)",
                                      "DataIn(false,c)", kDisconnectedOk}));
}

void PortTest::eolChangedInsideDataIn() {
    ScriptedServer server;
    server.setGreeting(Reply::send("a\r\nb|c|\r\nd"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    events.onDataIn = [](TvlmIPPort& p, const std::string& text, bool) {
        if (text == "a") {
            p.setEOL("|");
        }
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 3, kTimeout);
    port.setConnected(false);
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)",
                                      "DataIn(true,c)", "DataIn(false,\\r\\nd)", kDisconnectedOk}));
}

void PortTest::partialSendThenReadyToSend() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);

    std::string big(8 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < big.size(); i += 1000) {
        big[i] = static_cast<char>('a' + (i / 1000) % 26);
    }
    const auto [code, message] = refusal([&] { port.setDataOut(big); });
    QCOMPARE(code, 10035);
    QCOMPARE(message, QStringLiteral("10035: [10035] Operation would block"));
    // What the stack took goes out; the port is writable again later.
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 3, kTimeout);
    QCOMPARE(events.log.back(), kReady);
    const QByteArray got = server.received(0);
    QVERIFY(!got.isEmpty());
    QVERIFY(static_cast<std::size_t>(got.size()) < big.size());
    QVERIFY(QByteArray::fromRawData(big.data(), got.size()) == got);
    port.setConnected(false);
}

void PortTest::localHostAndPort() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    QCOMPARE(QString::fromStdString(port.LocalHost()), QString::fromLatin1(name));
    port.setLocalPort(0);
    QCOMPARE(port.LocalPort(), 0);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    QCOMPARE(port.LocalHost(), std::string("127.0.0.1"));
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, kTimeout);
    QVERIFY(port.LocalPort() != 0);
    port.setConnected(false);
    QCOMPARE(port.LocalPort(), 0); // the stored value again
    QCOMPARE(QString::fromStdString(port.LocalHost()), QString::fromLatin1(name));
}

namespace {
int socketOption(TvlmIPPort& port, int name) {
    int value = 0;
    int length = sizeof value;
    dazoroz::net::ws().getsockopt(port.engine().socket(), SOL_SOCKET, name,
                                  reinterpret_cast<char*>(&value), &length);
    return value;
}
linger lingerOption(TvlmIPPort& port) {
    linger value{};
    int length = sizeof value;
    dazoroz::net::ws().getsockopt(port.engine().socket(), SOL_SOCKET, SO_LINGER,
                                  reinterpret_cast<char*>(&value), &length);
    return value;
}
} // namespace

void PortTest::socketOptionsApplied() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setKeepAlive(true);
    port.setLinger(false);
    port.setInBufferSize(8192);
    port.setOutBufferSize(16384);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    QCOMPARE(socketOption(port, SO_KEEPALIVE), 1);
    QCOMPARE(lingerOption(port).l_onoff, 1); // Linger false: a close resets at once
    QCOMPARE(lingerOption(port).l_linger, 0);
    QVERIFY(socketOption(port, SO_RCVBUF) >= 8192);
    QVERIFY(socketOption(port, SO_SNDBUF) >= 16384);
    QCOMPARE(socketOption(port, SO_OOBINLINE), 1);

    // Writes while connected apply at once.
    port.setKeepAlive(false);
    port.setLinger(true);
    port.setInBufferSize(4096);
    QCOMPARE(socketOption(port, SO_KEEPALIVE), 0);
    QCOMPARE(lingerOption(port).l_onoff, 0);
    QCOMPARE(port.InBufferSize(), 4096);
    port.setConnected(false);
}

void PortTest::propertyRangeChecks_data() {
    QTest::addColumn<Action>("write");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("113: MaxLineLength must be between 1 and 65535.");
    QTest::newRow("MaxLineLength 0")
        << Action([](TvlmIPPort& p) { p.setMaxLineLength(0); }) << 113 << range;
    QTest::newRow("MaxLineLength 65536")
        << Action([](TvlmIPPort& p) { p.setMaxLineLength(65536); }) << 113 << range;
    QTest::newRow("MaxLineLength 4294967295")
        << Action([](TvlmIPPort& p) { p.setMaxLineLength(0xFFFFFFFFu); }) << 113 << range;
    QTest::newRow("EOL of 65536 bytes")
        << Action([](TvlmIPPort& p) { p.setEOL(std::string(65536, '\n')); }) << 117
        << "117: EOL can't be longer than 65535 bytes.";
}

void PortTest::propertyRangeChecks() {
    QFETCH(Action, write);
    QFETCH(int, code);
    QFETCH(QString, message);
    TvlmIPPort port;
    port.setEOL("\n");
    QCOMPARE(refusal([&] { write(port); }), std::make_pair(code, message));
    QCOMPARE(port.MaxLineLength(), 2048u);
    QCOMPARE(port.EOL(), std::string("\n"));
    port.setMaxLineLength(65535);
    QCOMPARE(port.MaxLineLength(), 65535u);
    port.setMaxLineLength(1);
    QCOMPARE(port.MaxLineLength(), 1u);
    port.setEOL(std::string(65535, '\n'));
}

void PortTest::reconnectAfterClose() {
    // Bytes pending from one connection never reach the next.
    ScriptedServer server;
    server.setGreeting(Reply::send("partial"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(port.engine().buffer().count(), 7, kTimeout);
    port.setConnected(false);
    server.setGreeting(Reply::send("fresh\r\n"));
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 2, kTimeout);
    QCOMPARE(events.log,
             (QStringList{kConnectedOk, kReady, "DataIn(false,partial)", kDisconnectedOk,
                          kConnectedOk, kReady, "DataIn(true,fresh)"}));
    port.setConnected(false);
}

void PortTest::unloadingLibraryClosesConnection() {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 2, kTimeout);
    port.setWinsockLoaded(false);
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, kDisconnectedOk}));
    QVERIFY(!port.WinsockLoaded());
    QVERIFY(!port.Connected());
    QCOMPARE(port.WinsockStatus(), std::string("Down"));
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(0), kTimeout);
    port.setWinsockLoaded(true);
    QVERIFY(port.WinsockLoaded());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.log.size(), 5, kTimeout);
    port.setConnected(false);
}

namespace {
// Counts the messages the port's notification window receives.
class MessageCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() >= QEvent::User) {
            ++count;
        }
        return false;
    }
};
} // namespace

// A handler that runs an event loop (a modal dialog, say): read notifications arriving
// meanwhile are ignored, and the pump picks the data up once the handler has returned.
void PortTest::nestedEventLoopInsideDataIn() {
    ScriptedServer server;
    server.setGreeting(Reply::send("one\r\n"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    MessageCounter counter;
    port.engine().window()->installEventFilter(&counter);
    int deliveredDuringLoop = -1;
    events.onDataIn = [&](TvlmIPPort& p, const std::string& text, bool) {
        if (text != "one") {
            return;
        }
        const int before = counter.count;
        server.send(0, "two\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(counter.count > before, kTimeout); // the read notification
        deliveredDuringLoop = events.dataInCount;
        QVERIFY(p.engine().pumpRunning());
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 2, kTimeout);
    QCOMPARE(deliveredDuringLoop, 1);
    QCOMPARE(events.log,
             (QStringList{kConnectedOk, kReady, "DataIn(true,one)", "DataIn(true,two)"}));
    server.send(0, "three\r\n"); // read notifications work again afterwards
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 3, kTimeout);
    port.setConnected(false);
}

void PortTest::bindFailureLeavesNoSocket() {
    ScriptedServer server; // holds 127.0.0.1:port, so binding the same port everywhere fails
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setLocalPort(server.port());
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(server.port());
    QCOMPARE(refusal([&] { port.setConnected(true); }),
             std::make_pair(10048, QStringLiteral("10048: [10048] Address already in use")));
    QCOMPARE(port.engine().socket(), kInvalidSocket);
    QCOMPARE(dazoroz::net::posixOpenSocketCount(), std::size_t{0});
    port.setLocalPort(0); // allowed again: no socket
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.log, (QStringList{kConnectedOk, kReady}), kTimeout);
    port.setConnected(false);
}

QTEST_GUILESS_MAIN(PortTest)
#include "test_port.moc"
