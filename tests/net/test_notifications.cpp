// How socket readiness reaches the engine: a read notification is handled at once, from the
// event loop that saw the readiness, unless messages posted earlier still wait for the window
// (then it waits behind them); a close or reset found by the engine's read becomes the close
// notification, as it was before the engine read.

#include "net/notification_window.h"
#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "port_events.h"
#include "support/scripted_server.h"

#include <QTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using dazoroz::net::dispatchMessage;
using dazoroz::net::kInvalidSocket;
using dazoroz::net::kSocketMessage;
using dazoroz::net::NotificationWindow;
using dazoroz::net::postMessage;
using dazoroz::net::TvlmIPPort;
using dazoroz::net::WindowMessageTarget;
using dazoroz::net::testing::PortEvents;
using dazoroz::net::testing::settle;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kTimeout = 10000;

const QString kConnectedOk = QStringLiteral("Connected(0,OK)");
const QString kReady = QStringLiteral("ReadyToSend");
const QString kDisconnectedOk = QStringLiteral("Disconnected(0,OK)");

// Records the messages it is handed, by their first parameter; 99 throws.
class RecordingTarget final : public WindowMessageTarget {
public:
    QList<int> handled;
    QStringList failures;

    long windowMessage(unsigned, std::uintptr_t wParam, std::intptr_t) override {
        if (wParam == 99) {
            throw std::runtime_error("handler failed");
        }
        handled << static_cast<int>(wParam);
        return 0;
    }
    void messageFailed(std::exception_ptr error) noexcept override {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            failures << QString::fromUtf8(e.what());
        }
    }
};

struct WindowDeleter {
    void operator()(NotificationWindow* window) const { delete window; }
};
using WindowPtr = std::unique_ptr<NotificationWindow, WindowDeleter>;

// A listening socket on 127.0.0.1 that the test serves by hand, blocking.
class BareListener {
public:
    BareListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(fd_, 1) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~BareListener() {
        if (peer_ >= 0) {
            ::close(peer_);
        }
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }
    // Takes the connection the kernel has completed already; false if there is none.
    bool acceptAndSend(const char* bytes, std::size_t length) {
        peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return peer_ >= 0 &&
               ::send(peer_, bytes, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    }
    // Closes the accepted connection, with a reset (RST) or in order.
    void closePeer(bool reset) {
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(peer_);
        peer_ = -1;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace

class NotificationsTest : public QObject {
    Q_OBJECT

private slots:
    void dispatchedAtOnceWhenNothingWaits();
    void dispatchedBehindPostedMessages();
    void dataWaitingBeforeTheConnectIsReported();
    void peerCloseFoundByTheReadIsTheCloseNotification();
    void closeFoundByTheFirstRead_data();
    void closeFoundByTheFirstRead();
    void cleanupTestCase() { QCOMPARE(dazoroz::net::posixOpenSocketCount(), std::size_t{0}); }
};

void NotificationsTest::dispatchedAtOnceWhenNothingWaits() {
    WindowPtr window(NotificationWindow::create());
    QVERIFY(window != nullptr);
    RecordingTarget target;
    window->setTarget(&target);
    QVERIFY(dispatchMessage(window.get(), kSocketMessage, 1, 0));
    QCOMPARE(target.handled, QList<int>{1});
    // An exception of the engine stays out of the event loop, as for a posted message.
    QVERIFY(dispatchMessage(window.get(), kSocketMessage, 99, 0));
    QCOMPARE(target.failures, QStringList{"handler failed"});
    QCOMPARE(window->queuedMessages(), 0);
}

void NotificationsTest::dispatchedBehindPostedMessages() {
    WindowPtr window(NotificationWindow::create());
    QVERIFY(window != nullptr);
    RecordingTarget target;
    window->setTarget(&target);
    QVERIFY(postMessage(window.get(), kSocketMessage, 1, 0));
    QVERIFY(postMessage(window.get(), kSocketMessage, 2, 0));
    QCOMPARE(window->queuedMessages(), 2);
    QVERIFY(dispatchMessage(window.get(), kSocketMessage, 3, 0));
    QVERIFY(target.handled.isEmpty()); // waits for its turn
    QCOMPARE(window->queuedMessages(), 3);
    QCoreApplication::sendPostedEvents(window.get());
    QCOMPARE(target.handled, (QList<int>{1, 2, 3}));
    QCOMPARE(window->queuedMessages(), 0);
    QVERIFY(dispatchMessage(window.get(), kSocketMessage, 4, 0));
    QCOMPARE(target.handled, (QList<int>{1, 2, 3, 4}));
}

// The greeting is in the socket before the event loop has reported the connect: the read
// notification must not overtake the connect and write notifications already queued.
void NotificationsTest::dataWaitingBeforeTheConnectIsReported() {
    BareListener listener;
    QVERIFY(listener.port() != 0);
    TvlmIPPort port;
    PortEvents events;
    events.bind(port);
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(listener.port());
    port.setConnected(true);
    static const char kGreeting[] = "220 hi\r\n";
    QVERIFY(listener.acceptAndSend(kGreeting, sizeof kGreeting - 1));
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 1, kTimeout);
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,220 hi\\r\\n)"}));
    port.setConnected(false);
}

// Lines a and b are delivered and c waits for its terminator when the peer closes. The read
// that finds the end of the stream hands it to the close notification, whose drain delivers c
// and carries a close from that event out at once.
void NotificationsTest::peerCloseFoundByTheReadIsTheCloseNotification() {
    ScriptedServer server;
    server.setGreeting(Reply::send("a\r\nb\r\nc"));
    TvlmIPPort port;
    port.setEOL("\r\n");
    PortEvents events;
    events.bind(port);
    QStringList seenInHandler;
    events.onDataIn = [&](TvlmIPPort& p, const std::string& text, bool) {
        if (text == "c") {
            p.setConnected(false);
            seenInHandler << QStringLiteral("connected=%1 pending=%2 events=%3")
                                 .arg(p.Connected())
                                 .arg(p.engine().closePending())
                                 .arg(events.log.size());
        }
    };
    port.setRemoteHost("127.0.0.1");
    port.setRemotePort(server.port());
    port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.dataInCount, 2, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(port.engine().buffer().count(), 1, kTimeout);
    server.closeConnection(0);
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)",
                                      "DataIn(false,c)", kDisconnectedOk}));
    QCOMPARE(seenInHandler, QStringList{"connected=0 pending=0 events=6"});
    QCOMPARE(port.engine().socket(), kInvalidSocket);
}

namespace {
// Reads once on every read notification and records what the socket layer answered.
class ReadingTarget final : public WindowMessageTarget {
public:
    dazoroz::net::Socket socket = kInvalidSocket;
    QStringList seen;

    long windowMessage(unsigned, std::uintptr_t, std::intptr_t lParam) override {
        using namespace dazoroz::net;
        const int event = selectEvent(lParam);
        if (event == kFdRead) {
            char buffer[64];
            const int n = ws().recv(socket, buffer, sizeof buffer, 0);
            seen << QStringLiteral("read %1").arg(n < 0 ? ws().WSAGetLastError() : n);
        } else if (event == kFdClose) {
            seen << QStringLiteral("close %1").arg(selectError(lParam));
        }
        return 0;
    }
    void messageFailed(std::exception_ptr) noexcept override {}
};
} // namespace

// The first read after a read notification finds the connection closed or reset. With close
// notifications asked for, they report it (with the error) and that read would block; without,
// the read itself reports it.
void NotificationsTest::closeFoundByTheFirstRead_data() {
    using namespace dazoroz::net;
    QTest::addColumn<long>("events");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("orderly, close asked for")
        << (kFdRead | kFdClose | kFdConnect) << false << QStringList{"read 10035", "close 0"};
    QTest::newRow("reset, close asked for")
        << (kFdRead | kFdClose | kFdConnect) << true << QStringList{"read 10035", "close 10054"};
    QTest::newRow("orderly, read only") << (kFdRead | kFdConnect) << false << QStringList{"read 0"};
    QTest::newRow("reset, read only")
        << (kFdRead | kFdConnect) << true << QStringList{"read 10054"};
}

void NotificationsTest::closeFoundByTheFirstRead() {
    using namespace dazoroz::net;
    QFETCH(long, events);
    QFETCH(bool, reset);
    QFETCH(QStringList, expected);
    QVERIFY(takeLibraryReference());
    WindowPtr window(NotificationWindow::create());
    QVERIFY(window != nullptr);
    ReadingTarget target;
    window->setTarget(&target);
    BareListener listener;
    target.socket = ws().socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(target.socket != kInvalidSocket);
    QCOMPARE(ws().WSAAsyncSelect(target.socket, window.get(), kSocketMessage, events), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(listener.port());
    ws().connect(target.socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    QVERIFY(listener.acceptAndSend("", 0));
    settle(); // the connect completes and nothing is readable yet
    QVERIFY(target.seen.isEmpty());
    listener.closePeer(reset);
    QTRY_COMPARE_WITH_TIMEOUT(target.seen, expected, kTimeout);
    settle();
    QCOMPARE(target.seen, expected);
    QCOMPARE(ws().closesocket(target.socket), 0);
    releaseLibraryReference();
}

QTEST_GUILESS_MAIN(NotificationsTest)
#include "test_notifications.moc"
