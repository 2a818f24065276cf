// End to end: the real main window and TCP client port against a scripted SNPP server on
// 127.0.0.1. The settings file names the server's port before the window is first shown.

#include "mainwin_fixture.h"

#include "net/vlm_ipport.h"
#include "store/settings.h"
#include "support/flood_server.h"
#include "support/load_adjusted_timer.h"
#include "support/refused_port.h"
#include "support/scripted_server.h"
#include "ui/error_report.h"
#include "ui/keyring.h"
#include "ui/password_keeper.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>

#include <functional>
#include <optional>

using namespace dazoroz::ui;
using namespace dazoroz::ui::testing;
using dazoroz::sending::ssConnecting;
using dazoroz::sending::ssIdle;
using dazoroz::testsupport::FloodServer;
using dazoroz::testsupport::LoadAdjustedTimer;
using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;
using dazoroz::testsupport::SnppScript;

namespace {

constexpr int kWait = 10000;
const QByteArray kNames = "Ann, 111\r\nbob, 222\r\nCy, 333\r\n";

// Runs the event loop until `done` holds (false after kWait), looking often.
bool soon(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < kWait)
        QTest::qWait(5);
    return done();
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// A keyring that answers a read only when the test says so.
class HeldKeyring : public Keyring {
public:
    std::vector<Reply> reads;
    void read(const QString&, Reply reply) override { reads.push_back(std::move(reply)); }
    void write(const QString&, const QString&, Reply reply) override { later(std::move(reply)); }
    void remove(const QString&, Reply reply) override { later(std::move(reply)); }

private:
    static void later(Reply reply) {
        QTimer::singleShot(0, [reply = std::move(reply)] { reply(Answer::Done, {}); });
    }
};

QStringList logLines(Program& p) {
    const QString text = p.log()->toPlainText();
    return text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
}

} // namespace

class TestMainWindowSend : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<Program> p;

    void start(const QByteArray& ini, const QByteArray& names = kNames) {
        p = std::make_unique<Program>(ini, names);
        QVERIFY(p->show());
    }
    void startWithServer(const SnppScript& script, int timeout = 60,
                         const QByteArray& names = kNames) {
        server = std::make_unique<ScriptedServer>();
        QVERIFY(server->listening());
        server->useSnppScript(script);
        start(iniText("127.0.0.1", server->port(), timeout), names);
    }
    dazoroz::sending::SendState state() { return p->main().sendLogic().sendState(); }
    // Types a pager number (none: to the checked names) and a message, then presses Send.
    void send(const QString& number, const QString& message) {
        QTest::keyClicks(p->idEdit(), number);
        QTest::keyClicks(p->memo(), message);
        p->click("sendButton");
        QCOMPARE(p->statusWord(), QStringLiteral("CONNECTING..."));
        QCOMPARE(state(), ssConnecting);
    }

private slots:
    void cleanup() {
        p.reset();
        server.reset();
    }

    void twoCheckedNames() {
        startWithServer({});
        p->clickBox(0);
        p->clickBox(2);
        send({}, "Meet at 10");
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        QCOMPARE(server->received(0), QByteArray("PAGE 111\r\nMESS Meet at 10\r\nSEND\r\n"
                                                 "PAGE 333\r\nMESS Meet at 10\r\nSEND\r\n"
                                                 "QUIT\r\n"));
        QCOMPARE(logLines(*p), (QStringList{"Sending to: Ann, 111 ...", "MESSAGE SENT OK",
                                            "Sending to: Cy, 333 ...", "MESSAGE SENT OK"}));
        QCOMPARE(p->statusWord(), QStringLiteral("SUCCESS"));
        QCOMPARE(p->main().statusBarText(), QString());
        QVERIFY(!p->main().clientSocket().Connected());
        QCOMPARE(server->connectionCount(), 1);
    }

    void oneTypedPagerNumber() {
        startWithServer({});
        send("5551234", "Hi");
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        QCOMPARE(server->received(0), QByteArray("PAGE 5551234\r\nMESS Hi\r\nSEND\r\nQUIT\r\n"));
        QCOMPARE(logLines(*p), QStringList{});
        QCOMPARE(p->statusWord(), QStringLiteral("SUCCESS"));
        // A second send over a new connection works the same.
        p->click("sendButton");
        QTRY_COMPARE_WITH_TIMEOUT(server->connectionCount(), 2, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(server->received(1),
                                  QByteArray("PAGE 5551234\r\nMESS Hi\r\nSEND\r\nQUIT\r\n"), kWait);
    }

    void refusedConnect() {
        const RefusedPort refused;
        QVERIFY(refused.isValid());
        start(iniText("127.0.0.1", refused.port(), 60));
        send("1", "x");
        QTRY_COMPARE_WITH_TIMEOUT(p->statusWord(), QStringLiteral("FAIL"), kWait);
        QCOMPARE(p->main().statusBarText(), QStringLiteral("Error: [10061] Connection refused"));
        QCOMPARE(p->child<QLabel>("simpleText")->text(),
                 QStringLiteral("Error: [10061] Connection refused"));
        QCOMPARE(state(), ssIdle);
        QCOMPARE(logLines(*p), QStringList{});
    }

    void failureReplyToTheSecondRecipient() {
        SnppScript script;
        script.failingPager = "222";
        startWithServer(script);
        p->click("checkAllButton");
        send({}, "m");
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        QCOMPARE(logLines(*p),
                 (QStringList{"Sending to: Ann, 111 ...", "MESSAGE SENT OK",
                              "Sending to: bob, 222 ...", "FAIL, Send process terminated"}));
        QCOMPARE(p->statusWord(), QStringLiteral("FAIL"));
        QCOMPARE(p->main().statusBarText(), QStringLiteral("550 Invalid pager ID"));
        QCOMPARE(p->child<QLabel>("simpleText")->text(), QStringLiteral("550 Invalid pager ID"));
        QTRY_VERIFY_WITH_TIMEOUT(server->peerClosed(0), kWait);
        QVERIFY(!server->received(0).contains("PAGE 333"));
        QVERIFY(!server->received(0).contains("QUIT"));
    }

    // Fail-over on: the first server takes two of five names, then answers 421 and closes; the
    // second gets the other three, and nobody is paged twice.
    void failoverHandsTheRestToTheNextServer() {
        server = std::make_unique<ScriptedServer>();
        ScriptedServer first(QHostAddress(QStringLiteral("127.0.0.2")), server->port());
        QVERIFY(server->listening() && first.listening());
        server->useSnppScript({});
        first.useSnppScript({});
        first.setResponder([pages = 0](const QByteArray& line, int) mutable {
            if (line.startsWith("PAGE") && ++pages == 3)
                return Reply::close("421 Too many pages, goodbye\r\n");
            return Reply::send(line == "QUIT" ? "221 bye\r\n" : "250 OK\r\n");
        });
        start(iniText("127.0.0.2", server->port(), 60) + "serverIP1=127.0.0.1\r\nfailover=1\r\n",
              kNames + "Di, 444\r\nEd, 555\r\n");
        p->click("checkAllButton");
        send({}, "m");
        QTRY_COMPARE_WITH_TIMEOUT(p->statusWord(), QStringLiteral("SUCCESS"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        QCOMPARE(first.received(0), QByteArray("PAGE 111\r\nMESS m\r\nSEND\r\n"
                                               "PAGE 222\r\nMESS m\r\nSEND\r\nPAGE 333\r\n"));
        QCOMPARE(server->received(0), QByteArray("PAGE 333\r\nMESS m\r\nSEND\r\n"
                                                 "PAGE 444\r\nMESS m\r\nSEND\r\n"
                                                 "PAGE 555\r\nMESS m\r\nSEND\r\nQUIT\r\n"));
        QCOMPARE(
            logLines(*p),
            (QStringList{"Sending to: Ann, 111 ...", "MESSAGE SENT OK", "Sending to: bob, 222 ...",
                         "MESSAGE SENT OK", "Sending to: Cy, 333 ...", "Trying 127.0.0.1 ...",
                         "Sending to: Cy, 333 ...", "MESSAGE SENT OK", "Sending to: Di, 444 ...",
                         "MESSAGE SENT OK", "Sending to: Ed, 555 ...", "MESSAGE SENT OK"}));
        QCOMPARE(p->main().statusBarText(), QStringLiteral("421 Too many pages, goodbye"));
    }

    // A Send while the keyring is still asked for the password starts once it answers, and
    // fails, without a connection, when it has not answered within the send time-out.
    void sendWaitsForTheKeyring_data() {
        QTest::addColumn<bool>("answers");
        QTest::newRow("the password comes") << true;
        QTest::newRow("no answer within the time-out") << false;
    }
    void sendWaitsForTheKeyring() {
        QFETCH(bool, answers);
        server = std::make_unique<ScriptedServer>();
        QVERIFY(server->listening());
        server->useSnppScript(
            {.failingPager = {}, .on = "LOGI", .instead = Reply::send("250 Login OK\r\n")});
        p = std::make_unique<Program>(iniText("127.0.0.1", server->port(), 1) + "loginID=ann\r\n",
                                      kNames);
        HeldKeyring keyring;
        PasswordKeeper keeper(dazoroz::store::settings(), keyring);
        p->main().setPasswordKeeper(&keeper);
        QVERIFY(p->show());
        QCOMPARE(keyring.reads.size(), std::size_t{1});
        QTest::keyClicks(p->idEdit(), "42");
        QTest::keyClicks(p->memo(), "m");
        p->click("sendButton");
        QCOMPARE(state(), ssIdle);
        if (answers) {
            keyring.reads.front()(Keyring::Answer::Done, QStringLiteral("pw"));
            QTRY_COMPARE_WITH_TIMEOUT(p->statusWord(), QStringLiteral("SUCCESS"), kWait);
            QVERIFY(server->received(0).startsWith("LOGI ann pw\r\nPAGE 42\r\n"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(p->statusWord(), QStringLiteral("FAIL"), kWait);
            QVERIFY(p->main().statusBarText().contains("keyring"));
            QCOMPARE(server->connectionCount(), 0);
        }
        p.reset();
    }

    void silentServerTimesOut() {
        SnppScript script;
        script.on = "PAGE";
        startWithServer(script, 1);
        send("42", "m");
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        QCOMPARE(p->statusWord(), QStringLiteral("FAIL"));
        QCOMPARE(server->received(0), QByteArray("PAGE 42\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(server->peerClosed(0), kWait);
        QCOMPARE(p->main().statusBarText(), QString());
        QCOMPARE(p->main().sendLogic().timeoutCountdown(), 0);
    }

    void closingMidSendNeitherFinishesNorCancels() {
        SnppScript script;
        script.on = "MESS";
        startWithServer(script);
        send("42", "m");
        QTRY_COMPARE_WITH_TIMEOUT(server->received(0), QByteArray("PAGE 42\r\nMESS m\r\n"), kWait);
        p->main().findChild<QAction*>("Exit1")->trigger();
        QCOMPARE(readFile(kNamesFile), kNames);
        QCOMPARE(p->statusWord(), QStringLiteral("CONNECTED..."));
        // The program ends: destroying the port drops the connection without a quit command.
        p.reset();
        QTRY_VERIFY_WITH_TIMEOUT(server->peerClosed(0), kWait);
        QCOMPARE(server->received(0), QByteArray("PAGE 42\r\nMESS m\r\n"));
    }

    // The error report, then the send has ended: FAIL, idle, and Send works again at once.
    void unresolvableServerName() {
        start(iniText("no-such-host.invalid", 444, 0));
        ErrorReportCapture reports;
        QTest::keyClicks(p->idEdit(), "1");
        QTest::keyClicks(p->memo(), "x");
        p->click("sendButton");
        QCOMPARE(reports.texts(), QStringList{"11001: [11001] Host not found."});
        QCOMPARE(reports.parents(), QList<QWidget*>{&p->main()});
        QCOMPARE(state(), ssIdle);
        QCOMPARE(p->statusWord(), QStringLiteral("FAIL"));
        p->click("sendButton");
        QCOMPARE(reports.texts().size(), 2);
        QCOMPARE(state(), ssIdle);
    }

    void serverAndFileTextIsNeverMarkup() {
        server = std::make_unique<ScriptedServer>();
        server->setGreeting(Reply::send("220 \x02<b>x</b><img src=y>\r\n"));
        server->setResponder([](const QByteArray&, int) {
            return Reply::send("554 <b>refused</b> <img src=z>\r\n");
        });
        start(iniText("127.0.0.1", server->port(), 60), "<i>Ann</i>, 111\r\n");
        p->clickBox(0);
        send({}, "m");
        QTRY_COMPARE_WITH_TIMEOUT(state(), ssIdle, kWait);
        auto* banner = p->child<QLabel>("messageLabel");
        QCOMPARE(banner->text(), QStringLiteral("<b>x</b><img src=y>"));
        QCOMPARE(banner->textFormat(), Qt::PlainText);
        auto* status = p->child<QLabel>("simpleText");
        QCOMPARE(status->text(), QStringLiteral("554 <b>refused</b> <img src=z>"));
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QCOMPARE(logLines(*p),
                 (QStringList{"Sending to: <i>Ann</i>, 111 ...", "FAIL, Send process terminated"}));
    }

    void bannerOfAGreetingScrolls() {
        server = std::make_unique<ScriptedServer>();
        SnppScript script;
        script.greeting = "220 \x02Welcome\r\n";
        server->useSnppScript(script);
        start(iniText("127.0.0.1", server->port(), 60));
        send("7", "m");
        QTRY_COMPARE_WITH_TIMEOUT(p->label("messageLabel"), QStringLiteral("Welcome"), kWait);
        auto* banner = p->child<QLabel>("messageLabel");
        const int left = banner->x();
        QTRY_VERIFY_WITH_TIMEOUT(banner->x() >= left + 8, kWait); // by the window's own timer
    }

    void failedHandOverInsideAReplyReachesTheErrorReport() {
        // A message far larger than the socket buffers: the port cannot take MESS whole (it
        // has no send queue) and raises its error from inside the reply's event.
        startWithServer({});
        ErrorReportCapture reports;
        std::string huge;
        while (huge.size() < (512u << 10))
            huge += "words ";
        dazoroz::store::settings().standardMessages[0] = huge;
        p->click("pickButton1");
        send("9", {});
        QTRY_COMPARE_WITH_TIMEOUT(reports.texts().size(), 1, kWait);
        QVERIFY2(reports.texts().first().startsWith("10035: [10035] "),
                 qPrintable(reports.texts().first()));
        QCOMPARE(reports.parents(), QList<QWidget*>{&p->main()});
        // The reply's handling stopped before the state moved on; Cancel ends the send.
        QCOMPARE(state(), dazoroz::sending::ssPageSent);
        p->click("cancelSendButton");
        QCOMPARE(state(), ssIdle);
        QCOMPARE(p->statusWord(), QStringLiteral("CANCEL"));
    }

    // A server that sends without pause from the connect on, and never a reply: the time-out
    // (one second: at the third tick of the 333 ms timer at the latest) still ends the send in
    // time, the window repaints, and a click on Cancel that comes through the event queue acts
    // within 0.2 s. Times leave out what the machine's load costs (LoadAdjustedTimer).
    void floodingServer() {
        FloodServer flood;
        QVERIFY(flood.listening());
        start(iniText("127.0.0.1", flood.port(), 1));
        auto clock =
            std::make_optional<LoadAdjustedTimer>(QStringList{LoadAdjustedTimer::thisThread()});
        send("1", "x");
        QVERIFY(soon([&] { return p->statusWord() == QStringLiteral("FAIL"); }));
        qint64 took = clock->elapsedMs();
        QVERIFY2(took <= 3 * 333 + 200, qPrintable(QString::number(took)));
        QCOMPARE(state(), ssIdle);
        QVERIFY(flood.bytesSent() > (1 << 20));

        p->click("sendButton");
        QVERIFY(soon([&] { return p->statusWord() == QStringLiteral("CONNECTED..."); }));
        const std::uint64_t before = flood.bytesSent();
        QVERIFY(soon([&] { return flood.bytesSent() > before + (1 << 20); }));
        auto* label = p->child<QLabel>("messageStatusLabel");
        PaintCounter counter;
        label->installEventFilter(&counter);
        label->update();
        QVERIFY(soon([&] { return counter.paints > 0; }));

        auto* cancel = p->child<QPushButton>("cancelSendButton");
        const QPointF at = cancel->rect().center();
        clock.emplace(QStringList{LoadAdjustedTimer::thisThread()});
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QCoreApplication::postEvent(
                cancel,
                new QMouseEvent(type, at, cancel->mapToGlobal(at), Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
        }
        QVERIFY(soon([&] { return p->statusWord() == QStringLiteral("CANCEL"); }));
        took = clock->elapsedMs();
        QVERIFY2(took <= 200, qPrintable(QString::number(took)));
        QCOMPARE(state(), ssIdle);
    }
};

QTEST_MAIN(TestMainWindowSend)
#include "test_mainwin_send.moc"
