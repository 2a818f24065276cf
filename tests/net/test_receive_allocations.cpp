// The receive path allocates nothing, not even for the texts it hands to OnDataIn, however long.
// Every allocation made while the loop hands the port a notification (a read readiness, or a
// message to its window) is counted (global operator new is replaced in this program).

#include "observed_loop.h"
#include "port_events.h"
#include "support/flood_server.h"

#include <QTest>

#include <cstdlib>
#include <new>

namespace {
bool g_counting = false;
long g_allocations = 0;
} // namespace

// The standard has the other forms (arrays, nothrow) call these two.
void* operator new(std::size_t size) {
    g_allocations += g_counting ? 1 : 0;
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::FloodServer;

namespace {

// Counts only while the loop hands the port a notification, once watching.
class Counting {
public:
    explicit Counting(ObservedLoop& loop) {
        loop.handling = [this] {
            if (watching) {
                ++dispatches;
                g_counting = true;
            }
        };
        loop.handled = [] {
            g_counting = false;
        };
    }
    bool watching = false;
    int dispatches = 0;
};

} // namespace

class ReceiveAllocationsTest : public QObject {
    Q_OBJECT

private slots:
    void onlyTheDeliveredTextAllocates_data() {
        QTest::addColumn<QByteArray>("eol");
        QTest::addColumn<int>("lineLength");
        QTest::addColumn<int>("lines");
        QTest::newRow("CR LF, long lines") << QByteArray("\r\n") << 100 << 200;
        QTest::newRow("CR LF, short lines") << QByteArray("\r\n") << 10 << 500;
        QTest::newRow("no terminator") << QByteArray() << 100 << 200;
    }

    void onlyTheDeliveredTextAllocates() {
        QFETCH(QByteArray, eol);
        QFETCH(int, lineLength);
        QFETCH(int, lines);
        QByteArray stream;
        for (int i = 0; i < lines; ++i) {
            stream += QByteArray(lineLength, static_cast<char>('a' + i % 26)) + "\r\n";
        }
        ObservedLoop loop(*EventLoop::current());
        Counting counting(loop);
        Harness h(eol.toStdString(), loop);
        int delivered = 0;
        std::size_t bytes = 0;
        h.port.OnDataIn = [&](TvlmIPPort&, const std::string& text, bool) {
            ++delivered;
            bytes += text.size();
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.connectionCount(), 1, kTimeout);

        counting.watching = true;
        g_allocations = 0;
        // In ten parts, each sent once the one before has been delivered: ten notifications at
        // least.
        const qsizetype part = stream.size() / 10;
        for (int i = 0; i < 10; ++i) {
            const QByteArray piece = stream.mid(i * part, i == 9 ? -1 : part);
            const std::size_t before = bytes;
            h.server.send(0, piece);
            QTRY_VERIFY_WITH_TIMEOUT(bytes > before, kTimeout);
        }
        const std::size_t expected = eol.isEmpty() ? std::size_t(stream.size())
                                                   : std::size_t(lines) * std::size_t(lineLength);
        QTRY_COMPARE_WITH_TIMEOUT(bytes, expected, kTimeout);
        counting.watching = false;

        QVERIFY(counting.dispatches >= 10);
        if (!eol.isEmpty()) {
            QCOMPARE(delivered, lines);
        }
        QCOMPARE(g_allocations, 0L);
        h.port.setConnected(false);
    }

    // A peer that sends without pause, into a socket buffer that holds many shares of reads:
    // the pump stops after each share and goes on at the next notification, allocating nothing
    // for that either.
    void floodReadInShares() {
        FloodServer flood;
        QVERIFY(flood.listening());
        ObservedLoop loop(*EventLoop::current());
        Counting counting(loop);
        Harness h({}, loop);
        h.port.setInBufferSize(1 << 20);
        long texts = 0;
        h.port.OnDataIn = [&](TvlmIPPort&, const std::string&, bool) {
            ++texts;
        };
        h.connect(flood.port());
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        counting.watching = true;
        g_allocations = 0;
        texts = 0;
        QTRY_VERIFY_WITH_TIMEOUT(texts > 100 * kReadsPerNotification, kTimeout);
        counting.watching = false;
        QCOMPARE(g_allocations, 0L);
        QVERIFY(counting.dispatches >= texts / kReadsPerNotification);
        h.port.setConnected(false);
    }
};

DAZOROZ_LOOP_TEST_MAIN(ReceiveAllocationsTest)

#include "test_receive_allocations.moc"