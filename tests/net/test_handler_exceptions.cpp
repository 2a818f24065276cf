// Exceptions thrown by event handlers: the port stays consistent and nothing reaches the event
// loop. An exception from an event of the event loop is logged as "Lost(...)" where it reached
// OnUnhandledException; one from an event of a property write goes to its caller.

#include "port_events.h"

#include <QTest>

#include <stdexcept>

using namespace dazoroz::net;
using namespace dazoroz::net::testing;
using dazoroz::testsupport::Reply;

class HandlerExceptionsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanupTestCase() { QCOMPARE(posixOpenSocketCount(), std::size_t{0}); }

    void dataInThrowsLaterLinesStillCome() {
        Harness h("\r\n");
        h.server.setGreeting(Reply::send("a\r\nb\r\n"));
        h.events.react = [](TvlmIPPort&, const QString& event) {
            if (event == "DataIn(true,a)") {
                throw std::runtime_error("boom at a");
            }
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 2, kTimeout);
        QCOMPARE(h.events.log, opened({"DataIn(true,a)", "Lost(boom at a)", "DataIn(true,b)"}));
        QVERIFY(h.port.Connected());
        QVERIFY(!h.port.engine().pumpRunning());
        // Still fully working.
        h.server.send(0, "c\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(h.events.dataInCount, 3, kTimeout);
        h.port.setConnected(false);
        QCOMPARE(h.events.log.back(), kDisconnectedOk);
    }

    // The close completes and the exception goes to the caller of setConnected(false).
    void ownersCloseHandlerThrows_data() {
        QTest::addColumn<QString>("throwOn"); // the start of the event whose handler throws
        QTest::newRow("OnDisconnected") << "Disconnected";
        QTest::newRow("OnDataIn of the flush") << "DataIn(false";
    }

    void ownersCloseHandlerThrows() {
        QFETCH(QString, throwOn);
        Harness h("\r\n");
        h.server.setGreeting(Reply::send("x\r\nyz"));
        h.events.react = [&](TvlmIPPort&, const QString& event) {
            if (event.startsWith(throwOn)) {
                throw std::runtime_error("from the close");
            }
        };
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 2, kTimeout);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, h.port.setConnected(false));
        settle();
        QCOMPARE(h.events.log, opened({"DataIn(true,x)", "DataIn(false,yz)", kDisconnectedOk}));
        QVERIFY(h.idle());
    }

    // The partial line at the end of the stream throws. When the end comes with the data, the
    // read notification's pump delivers it (and its exception goes first); when it comes later, the
    // close notification's drain does, and the close is completed before the exception goes on.
    void peerCloseHandlerThrows_data() {
        QTest::addColumn<bool>("closeLater");
        QTest::addColumn<QStringList>("expected");
        const QString data = QStringLiteral("DataIn(false,last words)");
        const QString lost = QStringLiteral("Lost(at the end)");
        QTest::newRow("close with the data") << false << opened({data, lost, kDisconnectedOk});
        QTest::newRow("close after the data") << true << opened({data, kDisconnectedOk, lost});
    }

    void peerCloseHandlerThrows() {
        QFETCH(bool, closeLater);
        QFETCH(QStringList, expected);
        Harness h("\r\n");
        h.server.setGreeting(closeLater ? Reply::send("last words") : Reply::close("last words"));
        h.events.react = [](TvlmIPPort&, const QString& event) {
            if (event.startsWith("DataIn")) {
                throw std::runtime_error("at the end");
            }
        };
        h.connect();
        if (closeLater) {
            QTRY_COMPARE_WITH_TIMEOUT(h.port.engine().buffer().count(), 10, kTimeout);
            h.server.closeConnection(0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.events.disconnectedCount, 1, kTimeout);
        settle();
        QCOMPARE(h.events.log, expected);
        QVERIFY(h.idle());
    }

    void withoutHookAWarningIsWritten() {
        Harness h;
        h.port.OnUnhandledException = nullptr;
        h.events.react = [](TvlmIPPort&, const QString& event) {
            if (event == kReady) {
                throw std::runtime_error("not ready");
            }
        };
        QTest::ignoreMessage(QtWarningMsg, "TCP port: an event handler failed: not ready");
        h.connect();
        QTRY_COMPARE_WITH_TIMEOUT(h.events.log, opened(), kTimeout);
        settle();
        QVERIFY(h.port.Connected());
        h.port.setConnected(false);
    }
};

DAZOROZ_LOOP_TEST_MAIN(HandlerExceptionsTest)
#include "test_handler_exceptions.moc"