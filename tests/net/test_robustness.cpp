// Hostile or unlucky peers: long data without a line end, NUL bytes, one byte at a time, and
// closes or resets at any moment. Nothing may crash, hang, leak or lose bytes.

#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "port_events.h"
#include "support/scripted_server.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>

using namespace dazoroz::net;
using dazoroz::net::testing::PortEvents;
using dazoroz::net::testing::settle;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kTimeout = 60000;

void startConnect(TvlmIPPort& port, quint16 serverPort) {
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(serverPort);
    port.setConnected(true);
}

std::string fromBytes(const QByteArray& bytes) {
    return {bytes.constData(), std::size_t(bytes.size())};
}

} // namespace

class RobustnessTest : public QObject {
    Q_OBJECT

private slots:
    void megabyteWithoutLineEnd_data();
    void megabyteWithoutLineEnd();
    void nulBytes_data();
    void nulBytes();
    void oneByteAtATime();
    void oneByteAtATimeIntoLines();
    void closeOrResetAtAnyMoment();
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }
};

void RobustnessTest::megabyteWithoutLineEnd_data() {
    QTest::addColumn<QByteArray>("eol");
    QTest::newRow("no terminator") << QByteArray();
    QTest::newRow("CR LF") << QByteArray("\r\n");
}

void RobustnessTest::megabyteWithoutLineEnd() {
    QFETCH(QByteArray, eol);
    QByteArray data(1024 * 1024, 'z');
    for (qsizetype i = 0; i < data.size(); i += 4096) {
        data[i] = static_cast<char>('A' + (i / 4096) % 26);
    }
    ScriptedServer server;
    server.setGreeting(Reply::close(data));
    TvlmIPPort port;
    port.setEOL(fromBytes(eol));
    PortEvents events;
    events.logging = false;
    events.bind(port);
    int complete = 0;
    events.onDataIn = [&](TvlmIPPort&, const std::string&, bool line) {
        complete += line ? 1 : 0;
    };
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(events.received.size(), std::size_t(data.size()));
    QVERIFY(events.received == fromBytes(data));
    QVERIFY(events.longest <= 2048);
    QCOMPARE(complete, eol.isEmpty() ? events.dataInCount : 0);
    QCOMPARE(events.log, (QStringList{"Connected(0,OK)", "ReadyToSend", "Disconnected(0,OK)"}));
}

void RobustnessTest::nulBytes_data() {
    QTest::addColumn<QByteArray>("eol");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no terminator")
        << QByteArray() << QStringList{"DataIn(true,a\\0b\\0\\0c\\r\\n)"};
    QTest::newRow("NUL terminator") << QByteArray("\0", 1)
                                    << QStringList{"DataIn(true,a)", "DataIn(true,b)",
                                                   "DataIn(true,)", "DataIn(false,c\\r\\n)"};
    QTest::newRow("NUL inside a two-byte terminator")
        << QByteArray("\0\0", 2) << QStringList{"DataIn(true,a\\0b)", "DataIn(false,c\\r\\n)"};
}

void RobustnessTest::nulBytes() {
    QFETCH(QByteArray, eol);
    QFETCH(QStringList, expected);
    ScriptedServer server;
    server.setGreeting(Reply::close(QByteArray("a\0b\0\0c\r\n", 8)));
    TvlmIPPort port;
    port.setEOL(fromBytes(eol));
    QCOMPARE(port.EOL().size(), std::size_t(eol.size()));
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    expected.prepend("ReadyToSend");
    expected.prepend("Connected(0,OK)");
    expected << "Disconnected(0,OK)";
    QCOMPARE(events.log, expected);
}

void RobustnessTest::oneByteAtATime() {
    const QByteArray reply("220 ready\r\n");
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, kTimeout);
    for (qsizetype i = 0; i < reply.size(); ++i) {
        server.send(0, reply.mid(i, 1));
        QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, int(i) + 1, kTimeout);
    }
    QCOMPARE(events.received, fromBytes(reply));
    QCOMPARE(events.longest, std::size_t{1});
    port.setConnected(false);
}

void RobustnessTest::oneByteAtATimeIntoLines() {
    QList<QByteArray> bytes;
    for (const char ch : QByteArray("220 ready\r\n250 ok\r\n")) {
        bytes << QByteArray(1, ch);
    }
    Reply reply = Reply::pieces(bytes, 1);
    reply.then = Reply::Then::Close;
    ScriptedServer server;
    server.setGreeting(reply);
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    startConnect(port, server.port());
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    QCOMPARE(events.log, (QStringList{"Connected(0,OK)", "ReadyToSend", "DataIn(true,220 ready)",
                                      "DataIn(true,250 ok)", "Disconnected(0,OK)"}));
}

// Random streams cut at random places, ended by the server (close or reset) or by the client
// (from inside a handler, or by destroying the port) at a random moment.
void RobustnessTest::closeOrResetAtAnyMoment() {
    QRandomGenerator random(4242);
    const std::string terminators[] = {"", "\r\n", "\n", std::string(1, '\0')};
    const std::uint32_t capacities[] = {1, 7, 64, 2048};
    const char alphabet[] = {'a', 'b', '\r', '\n', '\0', '2', '5', '0'};
    enum Client { Waits, ClosesInHandler, DestroysPort };
    for (int round = 0; round < 60; ++round) {
        const std::string& eol = terminators[random.bounded(4)];
        const std::uint32_t capacity = capacities[random.bounded(4)];
        QByteArray data(random.bounded(0, 6000), 'a');
        for (char& ch : data) {
            ch = alphabet[random.bounded(8)];
        }
        QList<QByteArray> pieces;
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype n = std::min<qsizetype>(random.bounded(1, 3000), data.size() - at);
            pieces << data.mid(at, n);
            at += n;
        }
        const bool reset = random.bounded(2) == 1;
        const auto client = static_cast<Client>(random.bounded(3));
        const int stopAt = random.bounded(1, 20);
        const QString round_ =
            QStringLiteral("round %1 eol %2 capacity %3 size %4 reset %5 client %6")
                .arg(round)
                .arg(eol.size())
                .arg(capacity)
                .arg(data.size())
                .arg(reset)
                .arg(client);

        ScriptedServer server;
        Reply script = Reply::pieces(pieces, random.bounded(2));
        script.then = reset ? Reply::Then::Reset : Reply::Then::Close;
        server.setGreeting(script);
        auto port = std::make_unique<TvlmIPPort>();
        port->setEOL(eol);
        port->setMaxLineLength(capacity);
        PortEvents events;
        events.logging = false;
        events.bind(*port);
        std::string rebuilt;
        QStringList ends; // Error and Disconnected events
        events.onDataIn = [&](TvlmIPPort& p, const std::string& text, bool line) {
            rebuilt += text;
            if (line) {
                rebuilt += eol;
            }
            if (client == ClosesInHandler && events.dataInCount == stopAt) {
                p.setConnected(false);
            }
        };
        events.onError = [&](TvlmIPPort&, int code, const std::string&) {
            ends << QStringLiteral("Error(%1)").arg(code);
        };
        events.onConnected = [&](TvlmIPPort&, int code, const std::string&) {
            if (code != 0) {
                ends << QStringLiteral("Connected(%1)").arg(code);
            }
        };
        events.onDisconnected = [&](TvlmIPPort& p, int code, const std::string&) {
            ends << QStringLiteral("Disconnected(%1)").arg(code);
            QVERIFY(!p.Connected());
        };
        startConnect(*port, server.port());
        if (client == DestroysPort) {
            QTRY_VERIFY_WITH_TIMEOUT(events.dataInCount >= stopAt || !ends.isEmpty(), kTimeout);
            port.reset();
            settle();
            QVERIFY2(events.disconnectedCount <= 1, qPrintable(round_));
            QVERIFY2(!ends.join(' ').contains("Connected"), qPrintable(ends.join(' ')));
            QVERIFY2(data.startsWith(QByteArray::fromStdString(rebuilt)), qPrintable(round_));
            continue;
        }
        QTRY_VERIFY2_WITH_TIMEOUT(events.disconnectedCount == 1, qPrintable(round_), kTimeout);
        settle();
        QCOMPARE(events.disconnectedCount, 1);
        QVERIFY2(ends.back().startsWith("Disconnected"), qPrintable(round_));
        QVERIFY2(data.startsWith(QByteArray::fromStdString(rebuilt)), qPrintable(round_));
        for (const QString& end : ends) {
            QVERIFY2(end == "Disconnected(0)" || (reset && end.endsWith("(10054)")),
                     qPrintable(round_ + " " + ends.join(' ')));
        }
        if (!reset && client == Waits) {
            QVERIFY2(rebuilt == fromBytes(data), qPrintable(round_));
        }
        QVERIFY(!port->Connected());
        QCOMPARE(port->engine().socket(), kInvalidSocket);
    }
}

QTEST_GUILESS_MAIN(RobustnessTest)
#include "test_robustness.moc"
