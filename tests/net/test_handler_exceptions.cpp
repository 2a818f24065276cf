// Exceptions thrown by event handlers: the port stays consistent and nothing reaches the event
// loop.

#include "net/socket_library.h"
#include "net/vlm_ipport.h"
#include "port_events.h"
#include "support/scripted_server.h"

#include <QTest>

#include <stdexcept>

using namespace dazoroz::net;
using dazoroz::net::testing::PortEvents;
using dazoroz::net::testing::settle;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kTimeout = 10000;

struct Harness {
    ScriptedServer server;
    TvlmIPPort port;
    PortEvents events;
    QStringList lost; // what reached OnUnhandledException

    Harness() {
        events.bind(port);
        port.OnUnhandledException = [this](TvlmIPPort&, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                lost << QString::fromLatin1(e.what());
            }
        };
    }
    void connect(quint16 to = 0) {
        port.setRemoteHost("127.0.0.1");
        port.setRemotePort(to != 0 ? to : server.port());
        port.setConnected(true);
    }
    void checkIdle() {
        QVERIFY(!port.Connected());
        QCOMPARE(port.engine().socket(), kInvalidSocket);
        QVERIFY(!port.engine().pumpRunning());
    }
};

const QString kConnectedOk = QStringLiteral("Connected(0,OK)");
const QString kReady = QStringLiteral("ReadyToSend");
const QString kDisconnectedOk = QStringLiteral("Disconnected(0,OK)");

} // namespace

class HandlerExceptionsTest : public QObject {
    Q_OBJECT

private slots:
    void dataInThrowsLaterLinesStillCome();
    void dataInClosesThenThrows();
    void failedConnectHandlerThrows();
    void disconnectedThrowsToCaller();
    void flushHandlerThrowsCloseCompletes();
    void peerCloseDrainHandlerThrows();
    void withoutHookAWarningIsWritten();
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }
};

void HandlerExceptionsTest::dataInThrowsLaterLinesStillCome() {
    Harness h;
    h.server.setGreeting(Reply::send("a\r\nb\r\n"));
    h.port.setEOL("\r\n");
    h.events.onDataIn = [](TvlmIPPort&, const std::string& text, bool) {
        if (text == "a") {
            throw std::runtime_error("boom at a");
        }
    };
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
    QCOMPARE(h.events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)"}));
    QCOMPARE(h.lost, QStringList{"boom at a"});
    QVERIFY(h.port.Connected());
    QVERIFY(!h.port.engine().pumpRunning());
    // Still fully working.
    h.server.send(0, "c\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 3, kTimeout);
    h.port.setConnected(false);
    QCOMPARE(h.events.log.back(), kDisconnectedOk);
}

void HandlerExceptionsTest::dataInClosesThenThrows() {
    Harness h;
    h.server.setGreeting(Reply::send("a\r\nb\r\nc"));
    h.port.setEOL("\r\n");
    h.events.onDataIn = [](TvlmIPPort& p, const std::string& text, bool) {
        if (text == "a") {
            p.setConnected(false);
            throw std::runtime_error("closed, then failed");
        }
    };
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
    settle();
    // The close asked for is carried out as usual, buffered data first.
    QCOMPARE(h.events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,a)", "DataIn(true,b)",
                                        "DataIn(false,c)", kDisconnectedOk}));
    QCOMPARE(h.lost, QStringList{"closed, then failed"});
    h.checkIdle();
    QTRY_VERIFY_WITH_TIMEOUT(h.server.peerClosed(0), kTimeout);
}

void HandlerExceptionsTest::failedConnectHandlerThrows() {
    Harness h;
    h.events.onConnected = [](TvlmIPPort&, int code, const std::string&) {
        if (code != 0) {
            throw std::runtime_error("refused");
        }
    };
    h.connect(ScriptedServer::refusedPort());
    QTRY_COMPARE_WITH_TIMEOUT(h.lost.size(), 1, kTimeout);
    settle();
    QCOMPARE(h.events.log, QStringList{"Connected(10061,[10061] Connection refused)"});
    h.checkIdle();
    h.port.setRemotePort(h.server.port()); // no longer "in progress"
    h.port.setConnected(true);
    QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 3, kTimeout);
    h.port.setConnected(false);
}

void HandlerExceptionsTest::disconnectedThrowsToCaller() {
    Harness h;
    h.events.onDisconnected = [](TvlmIPPort&, int, const std::string&) {
        throw std::runtime_error("from OnDisconnected");
    };
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, h.port.setConnected(false));
    QCOMPARE(h.events.log, (QStringList{kConnectedOk, kReady, kDisconnectedOk}));
    QVERIFY(h.lost.isEmpty());
    h.checkIdle();
}

void HandlerExceptionsTest::flushHandlerThrowsCloseCompletes() {
    Harness h;
    h.server.setGreeting(Reply::send("x\r\nyz"));
    h.port.setEOL("\r\n");
    h.events.onDataIn = [](TvlmIPPort&, const std::string& text, bool) {
        if (text == "yz") {
            throw std::runtime_error("from the flush");
        }
    };
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 2, kTimeout);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, h.port.setConnected(false));
    QCOMPARE(h.events.log, (QStringList{kConnectedOk, kReady, "DataIn(true,x)", "DataIn(false,yz)",
                                        kDisconnectedOk}));
    h.checkIdle();
}

void HandlerExceptionsTest::peerCloseDrainHandlerThrows() {
    Harness h;
    h.server.setGreeting(Reply::close("last words"));
    h.port.setEOL("\r\n");
    h.events.onDataIn = [](TvlmIPPort&, const std::string&, bool) {
        throw std::runtime_error("at the end");
    };
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
    settle();
    QCOMPARE(h.events.log,
             (QStringList{kConnectedOk, kReady, "DataIn(false,last words)", kDisconnectedOk}));
    QCOMPARE(h.lost, QStringList{"at the end"});
    h.checkIdle();
}

void HandlerExceptionsTest::withoutHookAWarningIsWritten() {
    Harness h;
    h.port.OnUnhandledException = nullptr;
    h.events.onReadyToSend = [](TvlmIPPort&) {
        throw std::runtime_error("not ready");
    };
    QTest::ignoreMessage(QtWarningMsg, "TCP port: an event handler failed: not ready");
    h.connect();
    QTRY_COMPARE_WITH_TIMEOUT(h.events.log.size(), 2, kTimeout);
    settle();
    QVERIFY(h.port.Connected());
    h.port.setConnected(false);
}

QTEST_GUILESS_MAIN(HandlerExceptionsTest)
#include "test_handler_exceptions.moc"
