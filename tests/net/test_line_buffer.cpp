// The receive line buffer over scripted byte streams, used the way the receive pump uses it.

#include "net/line_buffer.h"
#include "port_events.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <string>

using dazoroz::net::LineBuffer;
using dazoroz::net::testing::escaped;

namespace {

struct Pump {
    LineBuffer buffer;
    bool ready = false;  // capacity and terminator accepted
    QStringList pieces;  // "T:" complete line, "P:" partial line; control bytes escaped
    std::string rebuilt; // the delivered bytes with each complete line's terminator put back
    std::size_t longest = 0;
    bool terminatorInsideLine = false;

    Pump(int capacity, std::string_view terminator)
        : ready(buffer.setCapacity(static_cast<std::uint16_t>(capacity)) &&
                buffer.setTerminator(terminator)) {}

    void take(const LineBuffer::Piece& piece, bool complete) {
        pieces << (complete ? "T:" : "P:") + escaped({piece.bytes, piece.length});
        longest = std::max<std::size_t>(longest, piece.length);
        const std::string_view text(piece.bytes, piece.length);
        if (complete && !buffer.terminator().empty() &&
            text.find(buffer.terminator()) != std::string_view::npos) {
            terminatorInsideLine = true;
        }
        rebuilt.append(piece.bytes, piece.length);
        if (complete) {
            rebuilt.append(buffer.terminator());
        }
    }
    // Every complete line; a full buffer goes out as a partial line and the search starts over.
    void deliver() {
        for (;;) {
            LineBuffer::Piece piece;
            while (buffer.nextLine(piece)) {
                take(piece, true);
            }
            if (!buffer.full()) {
                return;
            }
            take(buffer.takeAll(), false);
        }
    }
    // One segment from the socket, read into the free space as often as it takes.
    void receive(const std::string& segment) {
        std::size_t at = 0;
        while (at < segment.size()) {
            deliver();
            const std::span<char> space = buffer.freeSpace();
            const std::size_t n = std::min(space.size(), segment.size() - at);
            std::memcpy(space.data(), segment.data() + at, n);
            buffer.commit(n);
            at += n;
        }
        deliver();
    }
    // The peer has closed: lines, then what is left as a partial line.
    void close() {
        deliver();
        const LineBuffer::Piece rest = buffer.takeAll();
        if (rest.length > 0) {
            take(rest, false);
        }
    }
};

} // namespace

class LineBufferTest : public QObject {
    Q_OBJECT

private slots:
    void streams_data() {
        QTest::addColumn<QByteArray>("terminator");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QList<QByteArray>>("segments");
        QTest::addColumn<QStringList>("expected"); // pieces after the peer's close

        QTest::newRow("no terminator, two replies in one read")
            << QByteArray() << 2048 << QList<QByteArray>{"250 a\r\n250 b\r\n"}
            << QStringList{"T:250 a\\r\\n250 b\\r\\n"};
        QTest::newRow("no terminator, reply over two reads")
            << QByteArray() << 2048 << QList<QByteArray>{"250 a", "bc\r\n"}
            << QStringList{"T:250 a", "T:bc\\r\\n"};
        QTest::newRow("no terminator, read larger than capacity")
            << QByteArray() << 4 << QList<QByteArray>{"abcdefghij"}
            << QStringList{"T:abcd", "T:efgh", "T:ij"};
        QTest::newRow("CR LF lines and a rest")
            << QByteArray("\r\n") << 2048 << QList<QByteArray>{"a\r\nb\r\nc"}
            << QStringList{"T:a", "T:b", "P:c"};
        QTest::newRow("bare CR LF")
            << QByteArray("\r\n") << 2048 << QList<QByteArray>{"\r\n"} << QStringList{"T:"};
        QTest::newRow("terminator split over reads")
            << QByteArray("\r\n") << 2048 << QList<QByteArray>{"ab\r", "\ncd\r", "\n"}
            << QStringList{"T:ab", "T:cd"};
        QTest::newRow("3000 bytes at capacity 2048")
            << QByteArray("\r\n") << 2048 << QList<QByteArray>{QByteArray(3000, 'x'), "tail\r\n"}
            << QStringList{"P:" + QString(2048, 'x'), "T:" + QString(952, 'x') + "tail"};
        QTest::newRow("terminator straddling the capacity")
            << QByteArray("\r\n") << 8 << QList<QByteArray>{"1234567\r\nab\r\n"}
            << QStringList{"P:1234567\\r", "T:\\nab"};
        QTest::newRow("line exactly the capacity")
            << QByteArray("\r\n") << 8 << QList<QByteArray>{"12345678\r\n"}
            << QStringList{"P:12345678", "T:"};
        QTest::newRow("NUL terminator")
            << QByteArray("\0", 1) << 2048 << QList<QByteArray>{QByteArray("a\0b\0\0c", 6)}
            << QStringList{"T:a", "T:b", "T:", "P:c"};
        QTest::newRow("NUL bytes inside lines")
            << QByteArray("\n") << 2048 << QList<QByteArray>{QByteArray("a\0b\nc\0", 6)}
            << QStringList{"T:a\\0b", "P:c\\0"};
        QTest::newRow("overlapping candidates")
            << QByteArray("<EOT>") << 2048 << QList<QByteArray>{"x<EO<<EOT>y<EOT"}
            << QStringList{"T:x<EO<", "P:y<EOT"};
        QTest::newRow("terminator longer than what is pending")
            << QByteArray("\r\n") << 2048 << QList<QByteArray>{"\r"} << QStringList{"P:\\r"};
        QTest::newRow("capacity one") << QByteArray("\n") << 1 << QList<QByteArray>{"ab\n"}
                                      << QStringList{"P:a", "P:b", "T:"};
    }

    void streams() {
        QFETCH(QByteArray, terminator);
        QFETCH(int, capacity);
        QFETCH(QList<QByteArray>, segments);
        QFETCH(QStringList, expected);
        Pump pump(capacity, terminator.toStdString());
        QVERIFY(pump.ready);
        std::string all;
        for (const QByteArray& segment : segments) {
            pump.receive(segment.toStdString());
            all += segment.toStdString();
        }
        pump.close();
        QCOMPARE(pump.pieces, expected);
        QCOMPARE(pump.rebuilt, all);
        QCOMPARE(pump.buffer.count(), 0);
    }

    // Pending bytes are searched with a new terminator at the next extraction, and thrown away
    // by a new capacity.
    void settingsChangedWhilePending() {
        Pump pump(16, "\r\n");
        pump.receive("a|b|c");
        QVERIFY(pump.pieces.isEmpty());
        QCOMPARE(pump.buffer.pending(), std::string_view("a|b|c"));
        QVERIFY(pump.buffer.setTerminator("|"));
        pump.deliver();
        QCOMPARE(pump.pieces, (QStringList{"T:a", "T:b"}));
        QVERIFY(pump.buffer.setTerminator({}));
        pump.deliver();
        QCOMPARE(pump.pieces, (QStringList{"T:a", "T:b", "T:c"}));
        QCOMPARE(pump.buffer.count(), 0);
        QVERIFY(pump.buffer.setTerminator("\n"));
        pump.receive("pending");
        QCOMPARE(pump.buffer.count(), 7);
        QVERIFY(pump.buffer.setCapacity(4));
        QCOMPARE(pump.buffer.count(), 0);
        QCOMPARE(pump.buffer.freeSpace().size(), std::size_t{4});
    }

    // Any stream, any capacity, any terminator, any cut into reads: the pieces put together again
    // give the stream, pieces never exceed the capacity, and a complete line never holds the
    // terminator (lines end at its first occurrence).
    void randomStreamsLoseNothing() {
        QRandomGenerator random(20240601);
        const char alphabet[] = {'a', 'b', '\r', '\n', '\0', '|'};
        const std::string terminators[] = {"",    "\r\n", "\n", "ab", std::string(1, '\0'),
                                           "aaa", "|"};
        for (int round = 0; round < 2000; ++round) {
            const int capacity = random.bounded(1, 40);
            const std::string& terminator = terminators[random.bounded(7)];
            std::string stream(static_cast<std::size_t>(random.bounded(0, 300)), 'a');
            for (char& ch : stream) {
                ch = alphabet[random.bounded(6)];
            }
            Pump pump(capacity, terminator);
            QVERIFY(pump.ready);
            for (std::size_t at = 0; at < stream.size();) {
                const auto n = std::min<std::size_t>(
                    stream.size() - at, static_cast<std::size_t>(random.bounded(1, 70)));
                pump.receive(stream.substr(at, n));
                at += n;
            }
            pump.close();
            QCOMPARE(pump.rebuilt, stream);
            QVERIFY(pump.longest <= std::size_t(capacity));
            QVERIFY(!pump.terminatorInsideLine);
        }
    }
};

QTEST_APPLESS_MAIN(LineBufferTest)
#include "test_line_buffer.moc"