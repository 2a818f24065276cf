// Replies read line by line: the send logic over the real TCP port (through PortConnection, as
// the window and dazoroz-send use it) against a scripted SNPP server on 127.0.0.1.

#include "net/vlm_ipport.h"
#include "sending/port_connection.h"
#include "sending/send_logic.h"
#include "support/scripted_server.h"
#include "support/test_loop.h"

#include <QTest>

#include <algorithm>
#include <functional>

using namespace dazoroz;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kWaitMs = 20'000;

// The window's outputs, as one list of events.
class Window : public sending::SendWindow {
public:
    QStringList events;
    void setStatusWord(const std::string& w) override { add("status", w); }
    void clearLog() override {}
    void appendLog(const std::string& line) override { add("log", line); }
    void setStatusBarText(const std::string& text) override {
        if (!text.empty())
            add("statusbar", text);
    }
    void setBanner(const std::string& text) override { add("banner", text); }
    std::string pagerNumber() const override { return "77"; }
    std::string messageText() const override { return "m"; }
    int nameCount() const override { return 0; }
    std::string nameText(int) const override { return {}; }
    bool nameChecked(int) const override { return false; }

private:
    void add(const char* what, const std::string& text) {
        events << QString::fromLatin1(what) + ": " + QString::fromStdString(text);
    }
};

// How the server says its replies: each one as given, or cut in two at `split` (two writes with
// a pause between them, so that they arrive as two receives).
struct Row {
    QByteArray greeting = "220 ready\r\n";
    QByteArray pageReply = "250 ok\r\n"; // the other commands get what a good server says
    bool answerMessAndSend = true;
    int split = 0;
    QStringList events{"status: CONNECTING...", "status: CONNECTED...", "status: SUCCESS"};
};

Reply said(const QByteArray& bytes, int split) {
    if (split <= 0 || bytes.size() < 2)
        return Reply::send(bytes);
    const qsizetype at = std::min<qsizetype>(split, bytes.size() - 1);
    return Reply::pieces({bytes.left(at), bytes.mid(at)}, 20);
}

QByteArray repeated(const QByteArray& line, int times) {
    QByteArray bytes;
    bytes.reserve(line.size() * times);
    for (int i = 0; i < times; ++i)
        bytes += line;
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestReplyLines : public QObject {
    Q_OBJECT

private slots:
    void oneSendPerRow_data() {
        QTest::addColumn<Row>("row");
        // Every reply, greeting included, cut at each byte position in turn (up to between its
        // CR and LF).
        for (int at = 1; at <= 15; ++at)
            QTest::addRow("replies split after byte %d", at) << Row{.split = at};
        QTest::newRow("lone LF line ends")
            << Row{.greeting = "220 ready\n", .pageReply = "250 ok\n"};
        QTest::newRow("several replies in one receive")
            << Row{.pageReply = "250 page ok\r\n250 message ok\r\n250 sent\r\n",
                   .answerMessAndSend = false};
        QTest::newRow("214 lines before the greeting")
            << Row{.greeting = "214 Welcome\r\n214 Say HELP\r\n220 ready\r\n"};
        QTest::newRow("220- continuation")
            << Row{.greeting = "220-Welcome\r\n220-to the server\r\n220 \x02ready\r\n",
                   .events = {"status: CONNECTING...", "status: CONNECTED...", "banner: ready",
                              "status: SUCCESS"}};
        QTest::newRow("250 greeting") << Row{.greeting = "250 ready\r\n"};
        // Were any piece after the first judged, its leading 5 would fail the send.
        QTest::newRow("1 MB greeting line")
            << Row{.greeting = "220 " + QByteArray(1 << 20, '5') + "\r\n"};
        QTest::newRow("1 MB information line")
            << Row{.greeting = "214 " + QByteArray(1 << 20, '5') + "\r\n220 ready\r\n"};
        QTest::newRow("10,000-line information reply")
            << Row{.pageReply = repeated("214 There is more help on this server.\r\n", 10'000) +
                                "250 ok\r\n"};
        QTest::newRow("continued failure reply")
            << Row{.pageReply = "550-No such pager.\r\n550 Try another.\r\n",
                   .events = {"status: CONNECTING...", "status: CONNECTED...",
                              "log: FAIL, Send process terminated", "status: FAIL",
                              "statusbar: 550 Try another."}};
    }

    void oneSendPerRow() {
        QFETCH(Row, row);
        ScriptedServer server;
        QVERIFY(server.listening());
        server.setGreeting(said(row.greeting, row.split));
        server.setResponder([&row](const QByteArray& line, int) {
            if (line.startsWith("PAGE "))
                return said(row.pageReply, row.split);
            if (line == "QUIT")
                return Reply::close("221 bye\r\n"); // closed at once, never split
            if (!row.answerMessAndSend)
                return Reply::silence();
            return said(line.startsWith("MESS ") ? "250 message ok\r\n" : "250 sent\r\n",
                        row.split);
        });

        store::Settings settings{"127.0.0.1", {}, server.port(), 0, {}, {}, {}, false, {}};
        Window window;
        net::TvlmIPPort port;
        sending::PortConnection connection(port);
        sending::SendLogic logic(connection, window, settings);
        std::size_t longest = 0;
        port.OnConnected = [&](net::TvlmIPPort&, int code, const std::string& text) {
            logic.clientSocketConnected(code, text);
        };
        port.OnDataIn = [&](net::TvlmIPPort&, const std::string& text, bool eol) {
            longest = std::max(longest, text.size());
            logic.clientSocketDataIn(text, eol);
        };
        port.OnDisconnected = [&](net::TvlmIPPort&, int code, const std::string& text) {
            logic.clientSocketDisconnected(code, text);
        };
        logic.reset();
        logic.sendButtonClick();
        QTRY_VERIFY_WITH_TIMEOUT(logic.sendState() == sending::ssIdle, kWaitMs);

        QCOMPARE(window.events, row.events);
        const bool success = row.events.last() == "status: SUCCESS";
        QCOMPARE(server.received(0), success ? QByteArray("PAGE 77\r\nMESS m\r\nSEND\r\nQUIT\r\n")
                                             : QByteArray("PAGE 77\r\n"));
        // However long the lines, no event carries more than the port's line limit.
        QVERIFY(longest <= sending::PortConnection::kReplyLineLimit);
    }
};

DAZOROZ_LOOP_TEST_MAIN(TestReplyLines)
#include "test_reply_lines.moc"
