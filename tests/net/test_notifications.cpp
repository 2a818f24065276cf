// How socket readiness reaches the engine: a read notification is handled at once, from the
// event loop that saw the readiness, unless messages posted earlier still wait for the window
// (then it waits behind them); a close or reset found by the engine's read becomes the close
// notification, as it was before the engine read. A peer that sends without pause is read in
// shares, one per read notification, with the event loop's other work in between.

#include "net/notification_window.h"
#include "observed_loop.h"
#include "port_events.h"
#include "support/flood_server.h"
#include "support/load_adjusted_timer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::FloodServer;
using dazoroz::testsupport::LoadAdjustedTimer;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

// Records the messages it is handed: by their first parameter (99 throws), or, given a socket,
// what one read of it answers on a read notification and the error of a close notification.
class RecordingTarget final : public WindowMessageTarget {
public:
    Socket socket = kInvalidSocket;
    QStringList seen;

    long windowMessage(unsigned, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (socket == kInvalidSocket) {
            if (wParam == 99) {
                throw std::runtime_error("handler failed");
            }
            seen << QString::number(wParam);
        } else if (selectEvent(lParam) == kFdRead) {
            char buffer[64];
            const int n = ws().recv(socket, buffer, sizeof buffer, 0);
            seen << QStringLiteral("read %1").arg(n < 0 ? ws().WSAGetLastError() : n);
        } else if (selectEvent(lParam) == kFdClose) {
            seen << QStringLiteral("close %1").arg(selectError(lParam));
        }
        return 0;
    }
    void messageFailed(std::exception_ptr error) noexcept override {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            seen << QStringLiteral("failed: %1").arg(QString::fromUtf8(e.what()));
        }
    }
};

// Counts the reads (deliveries, with an empty EOL) made for each notification the loop hands
// the port, and the messages queued for it at most.
class ShareCounter {
public:
    explicit ShareCounter(ObservedLoop& loop) : loop_(loop) {
        loop.handling = [this] {
            reads = 0;
        };
    }
    int reads = 0;
    int mostReads = 0;
    int mostQueued() const { return loop_.mostWaiting; }
    void read() { mostReads = std::max(mostReads, ++reads); }

private:
    ObservedLoop& loop_;
};

} // namespace

class NotificationsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    void dispatchedAtOnceUnlessMessagesWait() {
        const auto window = NotificationWindow::create(EventLoop::current());
        QVERIFY(window != nullptr);
        RecordingTarget target;
        window->setTarget(&target);
        QVERIFY(dispatchMessage(window.get(), kSocketMessage, 1, 0));
        QCOMPARE(target.seen, QStringList{"1"});
        // An exception of the engine stays out of the event loop, as for a posted message.
        QVERIFY(dispatchMessage(window.get(), kSocketMessage, 99, 0));
        QCOMPARE(target.seen, (QStringList{"1", "failed: handler failed"}));
        QCOMPARE(window->queuedMessages(), 0);
        target.seen.clear();

        QVERIFY(postMessage(window.get(), kSocketMessage, 2, 0));
        QVERIFY(postMessage(window.get(), kSocketMessage, 3, 0));
        QCOMPARE(window->queuedMessages(), 2);
        QVERIFY(dispatchMessage(window.get(), kSocketMessage, 4, 0));
        QVERIFY(target.seen.isEmpty()); // waits for its turn
        QCOMPARE(window->queuedMessages(), 3);
        settle();
        QCOMPARE(target.seen, (QStringList{"2", "3", "4"}));
        QCOMPARE(window->queuedMessages(), 0);
        QVERIFY(dispatchMessage(window.get(), kSocketMessage, 5, 0));
        QCOMPARE(target.seen, (QStringList{"2", "3", "4", "5"}));
    }

    // The greeting is in the socket before the event loop has reported the connect: the read
    // notification must not overtake the connect and write notifications already queued.
    void dataWaitingBeforeTheConnectIsReported() {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        Harness h;
        h.connect(listener.serverPort());
        QVERIFY(listener.waitForNewConnection(kTimeout)); // blocks; no event is handled meanwhile
        QTcpSocket* peer = listener.nextPendingConnection();
        QVERIFY(peer != nullptr);
        peer->write("220 hi\r\n");
        QVERIFY(peer->flush());
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 1, kTimeout);
        QCOMPARE(h.events.log, opened({"DataIn(true,220 hi\\r\\n)"}));
        h.port.setConnected(false);
    }

    // The first read after a read notification finds the connection closed or reset. With close
    // notifications asked for, they report it (with the error) and that read would block; without,
    // the read itself reports it.
    void closeFoundByTheFirstRead_data() {
        QTest::addColumn<long>("events");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("expected");
        const long all = kFdRead | kFdClose | kFdConnect;
        QTest::newRow("orderly, close asked for")
            << all << false << QStringList{"read 10035", "close 0"};
        QTest::newRow("reset, close asked for")
            << all << true << QStringList{"read 10035", "close 10054"};
        QTest::newRow("orderly, read only")
            << (kFdRead | kFdConnect) << false << QStringList{"read 0"};
        QTest::newRow("reset, read only")
            << (kFdRead | kFdConnect) << true << QStringList{"read 10054"};
    }

    void closeFoundByTheFirstRead() {
        QFETCH(long, events);
        QFETCH(bool, reset);
        QFETCH(QStringList, expected);
        QVERIFY(takeLibraryReference());
        const auto window = NotificationWindow::create(EventLoop::current());
        QVERIFY(window != nullptr);
        RecordingTarget target;
        window->setTarget(&target);
        ScriptedServer server;
        target.socket = ws().socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(target.socket != kInvalidSocket);
        QCOMPARE(ws().WSAAsyncSelect(target.socket, window.get(), kSocketMessage, events), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(server.port());
        ws().connect(target.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        QTRY_COMPARE_WITH_TIMEOUT(server.connectionCount(), 1, kTimeout);
        settle(); // the connect completes and nothing is readable yet
        QVERIFY(target.seen.isEmpty());
        if (reset) {
            server.resetConnection(0);
        } else {
            server.closeConnection(0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(target.seen, expected, kTimeout);
        settle();
        QCOMPARE(target.seen, expected);
        QCOMPARE(ws().closesocket(target.socket), 0);
        releaseLibraryReference();
    }

    // The socket holds far more than one share at a time, and each notification reads exactly
    // one, with no notifications piling up: a 333 ms timer keeps its pace, and closes the
    // connection at its third tick (time spent waiting for a CPU left out).
    void floodReadInShares() {
        FloodServer flood;
        QVERIFY(flood.listening());
        ObservedLoop loop(*EventLoop::current());
        Harness h({}, loop);
        h.events.logging = false;
        h.port.setInBufferSize(1 << 20);
        ShareCounter counter(loop);
        h.events.react = [&](TvlmIPPort&, const QString& event) {
            if (event.startsWith("DataIn")) {
                counter.read();
            }
        };
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        std::optional<LoadAdjustedTimer> clock;
        int ticks = 0;
        qint64 took = -1;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (++ticks == 3) {
                took = clock->elapsedMs();
                h.port.setConnected(false);
            }
        });
        h.connect(flood.port());
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        clock.emplace(QStringList{LoadAdjustedTimer::thisThread()});
        timer.start(333);
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        QVERIFY2(took <= 3 * 333 + 200,
                 qPrintable(QStringLiteral("%1 ms, %2 ms waited for a CPU besides")
                                .arg(took)
                                .arg(clock->waitedMs())));
        QCOMPARE(h.events.log, opened({kDisconnectedOk}));
        QCOMPARE(counter.mostReads, kReadsPerNotification);
        QVERIFY(h.events.dataInCount > 3 * kReadsPerNotification);
        // Two at most: the connect and write notifications, queued together.
        QVERIFY2(counter.mostQueued() <= 2, qPrintable(QString::number(counter.mostQueued())));
    }
};

DAZOROZ_LOOP_TEST_MAIN(NotificationsTest)
#include "test_notifications.moc"