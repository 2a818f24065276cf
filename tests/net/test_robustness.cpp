// Hostile or unlucky peers: long data without a line end, NUL bytes, one byte at a time, and
// closes or resets at any moment. Nothing may crash, hang, leak or lose bytes.

#include "port_events.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kLongTimeout = 60000;

// One byte per write, with a pause between writes, then an orderly close.
Reply byteByByte(const QByteArray& bytes) {
    QList<QByteArray> writes;
    for (const char ch : bytes) {
        writes << QByteArray(1, ch);
    }
    Reply reply = Reply::pieces(writes, 1);
    reply.then = Reply::Then::Close;
    return reply;
}

} // namespace

class RobustnessTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    void megabyteWithoutLineEnd_data() {
        QTest::addColumn<QByteArray>("eol");
        QTest::newRow("no terminator") << QByteArray();
        QTest::newRow("CR LF") << QByteArray("\r\n");
    }

    void megabyteWithoutLineEnd() {
        QFETCH(QByteArray, eol);
        QByteArray data(1024 * 1024, 'z');
        for (qsizetype i = 0; i < data.size(); i += 4096) {
            data[i] = static_cast<char>('A' + (i / 4096) % 26);
        }
        Harness h(eol.toStdString());
        h.server.setGreeting(Reply::close(data));
        h.events.logging = false;
        int complete = 0;
        h.events.react = [&](TvlmIPPort&, const QString& event) {
            complete += event == "DataIn(true)" ? 1 : 0;
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kLongTimeout);
        settle();
        QVERIFY(h.events.received == data.toStdString());
        QVERIFY(h.events.longest <= 2048);
        QCOMPARE(complete, eol.isEmpty() ? h.events.dataInCount : 0);
        QCOMPARE(h.events.log, opened({kDisconnectedOk}));
    }

    // NUL bytes in the data and in the terminator; a stream that comes one byte at a time.
    void awkwardStreams_data() {
        QTest::addColumn<Reply>("script");
        QTest::addColumn<QByteArray>("eol");
        QTest::addColumn<QStringList>("delivered");
        const Reply nuls = Reply::close(QByteArray("a\0b\0\0c\r\n", 8));
        QTest::newRow("NUL bytes, no terminator")
            << nuls << QByteArray() << QStringList{"DataIn(true,a\\0b\\0\\0c\\r\\n)"};
        QTest::newRow("NUL inside a two-byte terminator")
            << nuls << QByteArray("\0\0", 2)
            << QStringList{"DataIn(true,a\\0b)", "DataIn(false,c\\r\\n)"};
        QTest::newRow("byte by byte into lines")
            << byteByByte("220 ready\r\n250 ok\r\n") << QByteArray("\r\n")
            << QStringList{"DataIn(true,220 ready)", "DataIn(true,250 ok)"};
    }

    void awkwardStreams() {
        QFETCH(Reply, script);
        QFETCH(QByteArray, eol);
        QFETCH(QStringList, delivered);
        Harness h(eol.toStdString());
        QCOMPARE(h.port.EOL().size(), std::size_t(eol.size()));
        h.server.setGreeting(script);
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kLongTimeout);
        QCOMPARE(h.events.log, opened(delivered << kDisconnectedOk));
    }

    // Random streams cut at random places, ended by the server (close or reset) or by the client
    // (from inside a handler, or by destroying the port) at a random moment.
    void closeOrResetAtAnyMoment() {
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
            const QString round_ = QString::asprintf(
                "round %d eol %zu capacity %u size %lld reset %d client %d", round, eol.size(),
                capacity, static_cast<long long>(data.size()), reset, client);

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
            events.react = [&](TvlmIPPort& p, const QString& event) {
                if (client == ClosesInHandler && event.startsWith("DataIn") &&
                    events.dataInCount == stopAt) {
                    p.setConnected(false);
                }
                if (event.startsWith("Disconnected")) {
                    QVERIFY(!p.Connected());
                }
            };
            port->setRemoteHost("127.0.0.1");
            port->setRemotePort(server.port());
            port->setConnected(true);
            const auto ends = [&] { // what came after the connect, DataIn aside
                return events.log.mid(events.log.mid(0, 2) == opened() ? 2 : 0);
            };
            if (client == DestroysPort) {
                QTRY_VERIFY_WITH_TIMEOUT(events.dataInCount >= stopAt || !ends().isEmpty(),
                                         kLongTimeout);
                port.reset();
                settle();
                QVERIFY2(events.log.mid(0, 2) == opened(), qPrintable(events.log.join(' ')));
                QVERIFY2(events.disconnectedCount <= 1, qPrintable(round_));
            } else {
                QTRY_VERIFY2_WITH_TIMEOUT(events.disconnectedCount == 1, qPrintable(round_),
                                          kLongTimeout);
                settle();
                QCOMPARE(events.disconnectedCount, 1);
                QVERIFY2(events.log.back().startsWith("Disconnected"), qPrintable(round_));
                QVERIFY(!port->Connected());
                QCOMPARE(port->engine().socket(), kInvalidSocket);
            }
            for (const QString& end : ends()) {
                QVERIFY2(end == kDisconnectedOk || (reset && end.contains("(10054,")),
                         qPrintable(round_ + " " + events.log.join(' ')));
            }
            QVERIFY2(data.startsWith(QByteArray::fromStdString(events.received)),
                     qPrintable(round_));
            if (!reset && client == Waits) {
                QVERIFY2(events.received == data.toStdString(), qPrintable(round_));
            }
        }
    }
};

DAZOROZ_LOOP_TEST_MAIN(RobustnessTest)
#include "test_robustness.moc"