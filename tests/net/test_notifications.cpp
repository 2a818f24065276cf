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
#include "support/resident_memory.h"
#include "support/test_pki.h"
#include "support/tls_peer.h"

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

#include <openssl/ssl.h>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::FloodServer;
using dazoroz::testsupport::kResidentBytesTell;
using dazoroz::testsupport::LoadAdjustedTimer;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::residentBytes;
using dazoroz::testsupport::ScriptedServer;
using dazoroz::testsupport::TestPki;
using dazoroz::testsupport::TlsPeer;

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

// Counts the socket reads made for each notification the loop hands the port (through a
// socket module of its own, loaded while it lives), and those made while a TLS session's records
// for the peer waited beyond their limit.
class ShareCounter {
public:
    static inline ShareCounter* current = nullptr;
    const PortEngine* engine = nullptr;
    int reads = 0;
    int mostReads = 0;
    int readsOverLimit = 0;

    explicit ShareCounter(ObservedLoop& loop) {
        current = this;
        registerSocketModule(kModule);
        setLibraryPath(kModule.path);
        loop.handling = [this] {
            reads = 0;
        };
    }
    ~ShareCounter() {
        setLibraryPath(kDefaultLibraryPath);
        current = nullptr;
    }

private:
    static int recv(Socket s, char* buffer, int length, int flags) {
        ShareCounter& c = *current;
        c.mostReads = std::max(c.mostReads, ++c.reads);
        const TlsSession* tls = c.engine != nullptr ? c.engine->tlsSession() : nullptr;
        c.readsOverLimit += tls != nullptr && tls->outgoing().size() > kTlsSendQueueLimit;
        return posix<int (*)(Socket, char*, int, int)>(16)(s, buffer, length, flags);
    }
    static AnyProc proc(int ordinal) noexcept {
        return ordinal == 16 ? reinterpret_cast<AnyProc>(&recv) : posixSocketProc(ordinal);
    }
    static constexpr SocketModule kModule = {"COUNTING.DLL", &proc};
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

    // The socket holds far more than one share at a time, and each notification makes exactly
    // one share of socket reads (with TLS one read), with no notifications piling up: a 333 ms
    // timer keeps its pace to its third tick (time spent waiting for a CPU left out). Memory stays
    // as it was. With TLS the server sends data, or records that the session answers while the
    // server reads nothing: reading stops while the answers wait beyond their limit.
    void floodReadInShares_data() {
        QTest::addColumn<QString>("records"); // TLS: what the server sends after its greeting
        QTest::newRow("plain") << QString();
        QTest::newRow("TLS, data") << "data";
        QTest::newRow("TLS, HelloRequest") << "HelloRequest";
    }

    void floodReadInShares() {
        QFETCH(QString, records);
        const bool tls = !records.isEmpty();
        TestPki pki;
        QVERIFY2(pki.error().isEmpty(), qPrintable(pki.error()));
        const auto tlsFlood = [&pki, records](int fd) {
            TlsPeer peer =
                TlsPeer::server(pki.file("server.pem"), pki.file("server.key"), TLS1_2_VERSION);
            if (!peer.handshake(fd) || !peer.send(fd, "220 ready\r\n")) {
                return;
            }
            if (records == "HelloRequest") {
                peer.flood(fd, TlsPeer::Records::HelloRequest);
            }
            while (peer.send(fd, QByteArray(16 * 1024, 'x'))) {
            }
        };
        FloodServer flood = tls ? FloodServer(tlsFlood) : FloodServer();
        QVERIFY(flood.listening());
        ObservedLoop loop(*EventLoop::current());
        ShareCounter counter(loop);
        Harness h({}, loop);
        counter.engine = &h.port.engine();
        h.events.logging = false;
        h.events.keepReceived = false;
        h.port.setInBufferSize(1 << 20);
        h.port.setUseTLS(tls);
        h.port.setTLSCAFile(pki.file("ca.pem"));
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        std::optional<LoadAdjustedTimer> clock;
        int ticks = 0;
        qint64 took = -1;
        qint64 memoryBefore = 0;
        qint64 mostMemory = 0;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            mostMemory = std::max(mostMemory, residentBytes());
            if (++ticks == 3) {
                took = clock->elapsedMs();
                timer.stop();
            }
        });
        h.connect(flood.port());
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        clock.emplace(QStringList{LoadAdjustedTimer::thisThread()});
        memoryBefore = residentBytes(); // OpenSSL is loaded and the connection made
        timer.start(333);
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 3, kTimeout);
        QVERIFY2(took <= 3 * 333 + 200,
                 qPrintable(QStringLiteral("%1 ms, %2 ms waited for a CPU besides")
                                .arg(took)
                                .arg(clock->waitedMs())));
        if (records == "HelloRequest") { // the answers reach their limit, and reading stops
            QTRY_VERIFY_WITH_TIMEOUT(
                h.port.engine().tlsSession()->outgoing().size() > kTlsSendQueueLimit, kTimeout);
        } else {
            QVERIFY(h.events.dataInCount > 3 * kReadsPerNotification);
        }
        mostMemory = std::max(mostMemory, residentBytes());
        h.port.setConnected(false);
        QCOMPARE(h.events.log, opened({kDisconnectedOk}));
        QVERIFY2(counter.mostReads == (tls ? kTlsReadsPerNotification : kReadsPerNotification),
                 qPrintable(QString::number(counter.mostReads)));
        QCOMPARE(counter.readsOverLimit, 0);
        QVERIFY2(!kResidentBytesTell || mostMemory - memoryBefore < 2 << 20,
                 qPrintable(QStringLiteral("%1 bytes more").arg(mostMemory - memoryBefore)));
        // Two at most: the connect and write notifications, queued together.
        QVERIFY2(loop.mostWaiting <= 2, qPrintable(QString::number(loop.mostWaiting)));
    }
};

DAZOROZ_LOOP_TEST_MAIN(NotificationsTest)
#include "test_notifications.moc"