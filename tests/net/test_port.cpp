// The TCP client port against real sockets on 127.0.0.1 and an in-process scripted server.

#include "observed_loop.h"
#include "port_events.h"
#include "support/refused_port.h"

#include <QTest>

#include <stdexcept>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;

namespace {

enum class Handler { Leaves, Closes, Throws };

template <typename T = int> T socketOption(TvlmIPPort& port, int name) {
    T value{};
    int length = sizeof value;
    ws().getsockopt(port.engine().socket(), SOL_SOCKET, name, reinterpret_cast<char*>(&value),
                    &length);
    return value;
}

} // namespace

class PortTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    void replyChunksWithEmptyEol_data() {
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two replies in one segment")
            << QList<QByteArray>{"250 ok\r\n250 ok too\r\n"}
            << opened({"DataIn(true,250 ok\\r\\n250 ok too\\r\\n)"});
        QTest::newRow("one reply in two segments")
            << QList<QByteArray>{"220 rea", "dy\r\n"}
            << opened({"DataIn(true,220 rea)", "DataIn(true,dy\\r\\n)"});
        QList<QByteArray> bytes;
        QStringList each;
        for (const char ch : std::string("220 ready\r\n")) {
            bytes << QByteArray(1, ch);
            each << QStringLiteral("DataIn(true,%1)").arg(escaped({&ch, 1}));
        }
        QTest::newRow("one byte at a time") << bytes << opened(each);
    }

    void replyChunksWithEmptyEol() {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QStringList, expected);
        Harness h;
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionCount(), 1, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
        // Each segment is sent once the previous one has been delivered, so none can merge.
        for (int i = 0; i < writes.size(); ++i) {
            h.server.send(0, writes[i]);
            QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, i + 1, kTimeout);
        }
        h.port.setConnected(false);
        QCOMPARE(h.events.log, expected << kDisconnectedOk);
        QTRY_VERIFY_WITH_TIMEOUT(h.server.peerClosed(0), kTimeout);
    }

    void dataOutBeforeConnected() {
        Harness h;
        const QString notConnected = QStringLiteral("10057: [10057] Socket is not connected");
        QCOMPARE(refusal([&] { h.port.setDataOut("PAGE 1\r\n"); }), notConnected);
        h.connect();
        QCOMPARE(refusal([&] { h.port.setDataOut("PAGE 1\r\n"); }), notConnected);
        QCOMPARE(refusal([&] { h.port.setDataOut(""); }), notConnected);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);

        h.port.setDataOut(""); // connected: nothing is sent, no error
        h.port.setDataOut(std::string("PAGE 1\r\n\0x", 10));
        QTRY_COMPARE_WITH_TIMEOUT(h.server.received(0), QByteArray("PAGE 1\r\n\0x", 10), kTimeout);
        h.port.setConnected(false);
        QCOMPARE(refusal([&] { h.port.setDataOut("x"); }), notConnected);
        QCOMPARE(h.events.log, opened({kDisconnectedOk}));
    }

    // Lines a and b come complete, c waits for its terminator. A close from inside the read
    // notification's pump waits until the handler returns, and lines still buffered go first. When
    // the peer closes, the read that finds the end hands it to the close notification, whose drain
    // delivers c and carries a close from that event out at once.
    void closeInsideDataIn_data() {
        QTest::addColumn<QString>("closeOn");
        QTest::addColumn<bool>("peerCloses");
        QTest::addColumn<bool>("thenThrows");
        QTest::addColumn<QStringList>("expected");
        const QString deferred = QStringLiteral("Closing(connected=1,pending=1,pump=1)");
        const QStringList rest{"DataIn(true,b)", "DataIn(false,c)", kDisconnectedOk};
        QTest::newRow("in the pump") << "DataIn(true,a)" << false << false
                                     << opened(QStringList{"DataIn(true,a)", deferred} + rest);
        QTest::newRow("in the pump, then throws")
            << "DataIn(true,a)" << false << true
            << opened(QStringList{"DataIn(true,a)", deferred} + rest + QStringList{"Lost(failed)"});
        QTest::newRow("in the drain")
            << "DataIn(false,c)" << true << false
            << opened(QStringList{"DataIn(true,a)"} + rest +
                      QStringList{"Closing(connected=0,pending=0,pump=0)"});
    }

    void closeInsideDataIn() {
        QFETCH(QString, closeOn);
        QFETCH(bool, peerCloses);
        QFETCH(bool, thenThrows);
        QFETCH(QStringList, expected);
        Harness h("\r\n");
        h.server.setGreeting(Reply::send("a\r\nb\r\nc"));
        h.events.react = [&](TvlmIPPort& p, const QString& event) {
            if (event == closeOn) {
                h.events.closeFromHandler(p);
                if (thenThrows) {
                    throw std::runtime_error("failed");
                }
            }
        };
        h.connect();
        if (peerCloses) {
            QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
            QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 1, kTimeout);
            h.server.closeConnection(0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        settle();
        QCOMPARE(h.events.log, expected);
        QVERIFY(h.idle());
        QTRY_VERIFY_WITH_TIMEOUT(!h.server.isOpen(0), kTimeout);
    }

    void refusedConnect_data() {
        QTest::addColumn<Handler>("handler");
        QTest::addColumn<QStringList>("expected");
        const QString refused = QStringLiteral("Connected(10061,[10061] Connection refused)");
        QTest::newRow("handler leaves it") << Handler::Leaves << QStringList{refused};
        QTest::newRow("handler closes") << Handler::Closes << QStringList{refused, kDisconnectedOk};
        QTest::newRow("handler throws") << Handler::Throws << QStringList{refused, "Lost(refused)"};
    }

    void refusedConnect() {
        QFETCH(Handler, handler);
        QFETCH(QStringList, expected);
        Harness h;
        bool connectedInHandler = false;
        h.events.react = [&](TvlmIPPort& p, const QString& event) {
            if (!event.startsWith("Connected(10061")) {
                return;
            }
            connectedInHandler = p.Connected();
            if (handler == Handler::Closes) {
                p.setConnected(false);
            } else if (handler == Handler::Throws) {
                throw std::runtime_error("refused");
            }
        };
        const RefusedPort refused;
        QVERIFY(refused.isValid());
        h.connect(refused.port());
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), expected.size(), kTimeout);
        settle();
        QCOMPARE(h.events.log, expected);
        QVERIFY(connectedInHandler);
        QVERIFY(h.idle());

        // The port is idle again: a new connect is accepted.
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, expected + opened(), kTimeout);
    }

    void remoteHostForms_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("readBack");
        QTest::addColumn<QString>("refused");
        const auto row = [](const char* host, const char* readBack, const char* refused = "") {
            QTest::newRow(*host != 0 ? host : "empty") << host << readBack << refused;
        };
        row("10.0.0.1", "10.0.0.1"); // no lookup
        row("localhost", "127.0.0.1");
        row("", "");
        row("::", ""); // the unspecified address is no address, as 0.0.0.0 is not
        row("[localhost]", "", "11001: [11001] Host not found"); // brackets hold an address
        row("nosuch.invalid", "", "11001: [11001] Host not found");
        row("INVALID", "", "11001: [11001] Host not found");
    }

    void remoteHostForms() {
        QFETCH(QString, host);
        QFETCH(QString, readBack);
        QFETCH(QString, refused);
        TvlmIPPort port;
        port.setRemoteHost("10.9.8.7");
        QCOMPARE(refusal([&] { port.setRemoteHost(host.toStdString()); }), refused);
        QCOMPARE(QString::fromStdString(port.RemoteHost()), readBack);
    }

    // Writes refused while a socket exists (while connecting, when Connected still reads false, and
    // again once connected), out of range, or a connect without an address or port (after the
    // writes before it): nothing changes, and closing fires only what the connection needs.
    void refusedWrites_data() {
        QTest::addColumn<bool>("withSocket");
        QTest::addColumn<QString>("writes");
        QTest::addColumn<QString>("refused");
        const QString busy =
            QStringLiteral("You cannot change %1 at this time. A connection is in progress.");
        const QString range = QStringLiteral("113: MaxLineLength must be between 1 and 65535.");
        const QString noAddress =
            QStringLiteral("102: The RemoteHost address is invalid (0.0.0.0).");
        QTest::newRow("RemotePort") << true << "RemotePort=1"
                                    << "100: " + busy.arg("the RemotePort");
        QTest::newRow("RemoteHost") << true << "RemoteHost=10.0.0.1"
                                    << "101: " + busy.arg("the RemoteHost");
        QTest::newRow("LocalPort") << true << "LocalPort=1"
                                   << "106: " + busy.arg("the LocalPort");
        QTest::newRow("MaxLineLength") << true << "MaxLineLength=100"
                                       << "112: " + busy.arg("MaxLineSize");
        QTest::newRow("Connected") << true << "Connected=1"
                                   << "104: Already connected. If you want to reconnect, close the "
                                      "current connection first.";
        QTest::newRow("MaxLineLength 0") << false << "MaxLineLength=0" << range;
        QTest::newRow("MaxLineLength 65536") << false << "MaxLineLength=65536" << range;
        QTest::newRow("MaxLineLength 4294967295") << false << "MaxLineLength=4294967295" << range;
        QTest::newRow("EOL of 65536 bytes") << false << "EOL=65536"
                                            << "117: EOL can't be longer than 65535 bytes.";
        QTest::newRow("no address") << false << "RemotePort=444 Connected=1" << noAddress;
        QTest::newRow("no address, no port") << false << "Connected=1" << noAddress;
        // The server holds 127.0.0.1 at its port (%1), so binding that port everywhere fails.
        QTest::newRow("bind fails")
            << false << "RemoteHost=127.0.0.1 RemotePort=%1 LocalPort=%1 Connected=1"
            << "10048: [10048] Address already in use";
        QTest::newRow("port zero")
            << false << "RemoteHost=127.0.0.1 Connected=1"
            << "116: RemotePort can't be zero. Please specify a valid service port number.";
    }

    void refusedWrites() {
        QFETCH(bool, withSocket);
        QFETCH(QString, writes);
        QFETCH(QString, refused);
        Harness h("\n");
        QStringList before =
            QString(writes).replace("%1", QString::number(h.server.port())).split(' ');
        const QString last = before.takeLast();
        for (const QString& assignment : before) {
            write(h.port, assignment);
        }
        if (withSocket) {
            h.connect();
        }
        const auto snapshot = [&] {
            return QStringLiteral("%1 %2 %3 %4 %5")
                .arg(QString::fromStdString(h.port.RemoteHost()))
                .arg(h.port.RemotePort())
                .arg(h.port.LocalPort())
                .arg(h.port.MaxLineLength())
                .arg(h.port.EOL().size());
        };
        const QString unchanged = snapshot();
        QVERIFY(!h.port.Connected());
        QCOMPARE(refusal([&] { write(h.port, last); }), refused);
        QVERIFY(!h.port.Connected());
        if (withSocket) {
            QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
            QCOMPARE(refusal([&] { write(h.port, last); }), refused);
            QVERIFY(h.port.Connected());
        }
        QCOMPARE(snapshot(), unchanged);
        QCOMPARE(h.port.engine().socket() == kInvalidSocket, !withSocket);
        h.port.setConnected(false);
        h.port.setConnected(false);
        settle();
        QCOMPARE(h.events.log, withSocket ? opened({kDisconnectedOk}) : QStringList());
        // The limits themselves are accepted.
        for (const char* limit : {"MaxLineLength=65535", "MaxLineLength=1", "EOL=65535"}) {
            QCOMPARE(refusal([&] { write(h.port, limit); }), QString());
        }
        if (withSocket) {
            write(h.port, last); // accepted once the socket is gone
        }
    }

    void resetByPeer_data() {
        QTest::addColumn<bool>("unread"); // the reset comes before the client has read the data
        QTest::addColumn<bool>("closeInOnError");
        QTest::addColumn<QStringList>("expected");
        const QString data = QStringLiteral("DataIn(true,250 ok\\r\\n)");
        const QString error = QStringLiteral("Error(10054,Winsock error in recv())");
        const QString reset =
            QStringLiteral("Disconnected(10054,[10054] Connection reset by peer)");
        // The reset is the close notification's: its drain reads and fails.
        QTest::newRow("read, handler leaves it") << false << false << opened({data, error, reset});
        QTest::newRow("read, handler closes")
            << false << true
            << opened({data, error, kDisconnectedOk, "Closing(connected=0,pending=0,pump=0)"});
        // The read notification's pump delivers the data, then its next read fails. A close from
        // OnError waits until the handler returns; without one, the close notification's drain
        // fails the same way again.
        QTest::newRow("unread, handler closes")
            << true << true
            << opened({data, error, "Closing(connected=1,pending=1,pump=1)", kDisconnectedOk});
        QTest::newRow("unread, handler leaves it")
            << true << false << opened({data, error, error, reset});
    }

    void resetByPeer() {
        QFETCH(bool, unread);
        QFETCH(bool, closeInOnError);
        QFETCH(QStringList, expected);
        Harness h;
        h.events.react = [&](TvlmIPPort& p, const QString& event) {
            if (closeInOnError && event.startsWith("Error")) {
                h.events.closeFromHandler(p);
            }
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionCount(), 1, kTimeout);
        h.server.send(0, "250 ok\r\n");
        if (!unread) {
            QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 1, kTimeout);
        }
        h.server.resetConnection(0);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        settle();
        QCOMPARE(h.events.log, expected);
        QVERIFY(h.idle());
    }

    void orderlyPeerClose() {
        Harness h;
        h.server.setGreeting(Reply::send("220 hi\r\n"));
        h.server.setResponder([](const QByteArray& line, int) {
            return line == "QUIT" ? Reply::close("221 bye\r\n") : Reply::silence();
        });
        h.events.react = [](TvlmIPPort& p, const QString& event) {
            if (event.startsWith("DataIn(true,220")) {
                p.setDataOut("QUIT\r\n");
            }
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        settle();
        QCOMPARE(h.events.log, opened({"DataIn(true,220 hi\\r\\n)", "DataIn(true,221 bye\\r\\n)",
                                       kDisconnectedOk}));
        QVERIFY(h.idle());
    }

    // After a, the bytes hold no CR LF: set inside the DataIn of a, the same pump goes on with the
    // new terminator; set later, the port scans what it holds again at once.
    void eolChanged_data() {
        QTest::addColumn<bool>("insideDataIn");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("rest");
        QTest::newRow("inside DataIn") << true << QByteArray("a\r\nb|c|\r\nd") << "\\r\\nd";
        QTest::newRow("while connected") << false << QByteArray("a\r\nb|c|d") << "d";
    }

    void eolChanged() {
        QFETCH(bool, insideDataIn);
        QFETCH(QByteArray, stream);
        QFETCH(QString, rest);
        Harness h("\r\n");
        h.server.setGreeting(Reply::send(stream));
        h.events.react = [&](TvlmIPPort& p, const QString& event) {
            if (insideDataIn && event == "DataIn(true,a)") {
                p.setEOL("|");
            }
        };
        h.connect();
        if (!insideDataIn) {
            QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 5, kTimeout);
            QCOMPARE(h.events.log, opened({"DataIn(true,a)"}));
            h.port.setEOL("|");
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 3, kTimeout);
        h.server.closeConnection(0);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        QCOMPARE(h.events.log, opened({"DataIn(true,a)", "DataIn(true,b)", "DataIn(true,c)",
                                       "DataIn(false," + rest + ")", kDisconnectedOk}));
    }

    void partialSendThenReadyToSend() {
        Harness h;
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
        std::string big(8 * 1024 * 1024, 'x');
        for (std::size_t i = 0; i < big.size(); i += 1000) {
            big[i] = static_cast<char>('a' + (i / 1000) % 26);
        }
        QCOMPARE(refusal([&] { h.port.setDataOut(big); }), "10035: [10035] Operation would block");
        // What the stack took goes out; the port is writable again later.
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened({kReady}), kTimeout);
        const QByteArray got = h.server.received(0);
        QVERIFY(!got.isEmpty());
        QVERIFY(static_cast<std::size_t>(got.size()) < big.size());
        QVERIFY(QByteArray::fromRawData(big.data(), got.size()) == got);
        h.port.setConnected(false);
    }

    // While connected, LocalHost and LocalPort are those of the socket, and the options are
    // applied to it, at connect and at once when written.
    void socketProperties() {
        Harness h;
        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        QCOMPARE(QString::fromStdString(h.port.LocalHost()), QString::fromLatin1(name));
        for (const char* option :
             {"KeepAlive=1", "Linger=0", "InBufferSize=8192", "OutBufferSize=16384"}) {
            write(h.port, option);
        }
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
        QCOMPARE(h.port.LocalHost(), std::string("127.0.0.1"));
        QVERIFY(h.port.LocalPort() != 0);
        QCOMPARE(socketOption(h.port, SO_KEEPALIVE), 1);
        const linger resets = socketOption<linger>(h.port, SO_LINGER); // Linger false
        QCOMPARE(std::make_pair(resets.l_onoff, resets.l_linger), std::make_pair(1, 0));
        QVERIFY(socketOption(h.port, SO_RCVBUF) >= 8192);
        QVERIFY(socketOption(h.port, SO_SNDBUF) >= 16384);
        QCOMPARE(socketOption(h.port, SO_OOBINLINE), 1);
        h.port.setKeepAlive(false);
        h.port.setLinger(true);
        QCOMPARE(socketOption(h.port, SO_KEEPALIVE), 0);
        QCOMPARE(socketOption<linger>(h.port, SO_LINGER).l_onoff, 0);
        h.port.setConnected(false);
        QCOMPARE(h.port.LocalPort(), 0); // the stored value again
        QCOMPARE(QString::fromStdString(h.port.LocalHost()), QString::fromLatin1(name));
    }

    // Unloading the library closes the connection, with its event and its pending bytes, which
    // never reach the next connection.
    void unloadingLibraryClosesConnection() {
        Harness h("\r\n");
        h.server.setGreeting(Reply::send("partial"));
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 7, kTimeout);
        h.port.setWinsockLoaded(false);
        QCOMPARE(h.events.log, opened({"DataIn(false,partial)", kDisconnectedOk}));
        QVERIFY(!h.port.WinsockLoaded());
        QVERIFY(!h.port.Connected());
        QCOMPARE(h.port.WinsockStatus(), std::string("Down"));
        QTRY_VERIFY_WITH_TIMEOUT(h.server.peerClosed(0), kTimeout);
        h.port.setWinsockLoaded(true);
        QVERIFY(h.port.WinsockLoaded());
        h.server.setGreeting(Reply::send("fresh\r\n"));
        h.port.setConnected(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
        QCOMPARE(h.events.log, opened({"DataIn(false,partial)", kDisconnectedOk}) +
                                   opened({"DataIn(true,fresh)"}));
        h.port.setConnected(false);
    }

    // Unloading the library from inside OnDataIn delivers the lines still buffered from inside
    // that handler; the text the handler was given stays as it was meanwhile.
    void unloadingLibraryInsideDataIn() {
        Harness h("|"); // no line ends before all is buffered
        h.server.setGreeting(Reply::send("first\r\nsecond\r\nthird"));
        QStringList texts;
        QString textAfterUnloading;
        h.port.OnDataIn = [&](TvlmIPPort& p, const std::string& text, bool) {
            texts << QString::fromStdString(text);
            if (texts.size() == 1) {
                p.setWinsockLoaded(false);
                textAfterUnloading = QString::fromStdString(text);
            }
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 20, kTimeout);
        h.port.setEOL("\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 3, kTimeout);
        QCOMPARE(texts, QStringList({"first", "second", "third"}));
        QCOMPARE(textAfterUnloading, QString("first"));
        h.port.setWinsockLoaded(true);
    }

    // A handler that runs an event loop (a modal dialog, say): read notifications arriving
    // meanwhile are ignored, and the pump picks the data up once the handler has returned.
    void nestedEventLoopInsideDataIn() {
        ObservedLoop loop(*EventLoop::current());
        Harness h("\r\n", loop);
        h.server.setGreeting(Reply::send("one\r\n"));
        int notifications = 0;
        loop.handling = [&] {
            ++notifications;
        };
        int deliveredDuringLoop = -1;
        h.events.react = [&](TvlmIPPort& p, const QString& event) {
            if (event != "DataIn(true,one)") {
                return;
            }
            const int before = notifications;
            h.server.send(0, "two\r\n");
            QTRY_VERIFY_WITH_TIMEOUT(notifications > before, kTimeout); // the read notification
            deliveredDuringLoop = h.events.dataInCount;
            QVERIFY(p.engine().pumpRunning());
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
        QCOMPARE(deliveredDuringLoop, 1);
        QCOMPARE(h.events.log, opened({"DataIn(true,one)", "DataIn(true,two)"}));
        h.server.send(0, "three\r\n"); // read notifications work again afterwards
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 3, kTimeout);
        h.port.setConnected(false);
    }
};

DAZOROZ_LOOP_TEST_MAIN(PortTest)
#include "test_port.moc"