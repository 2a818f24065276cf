// The SNPP server class driven in-process on 127.0.0.1 by clients in the same event loop.

#include "snpp_test_client.h"
#include "snppd/snpp_server.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <vector>

using dazoroz::snppd::Page;
using dazoroz::snppd::ServerOptions;
using dazoroz::snppd::SnppServer;
using dazoroz::snppd::SplitMode;
using dazoroz::snppd::Step;
using dazoroz::snppd::StepTrigger;
using dazoroz::snppd::testing::replyCodes;
using dazoroz::snppd::testing::TestClient;
using dazoroz::snppd::testing::waitMs;

Q_DECLARE_METATYPE(ServerOptions)
Q_DECLARE_METATYPE(StepTrigger)
Q_DECLARE_METATYPE(SplitMode)

namespace {

// Delivered pages as "id:message|id:message", the ID with what the page line shows beside it:
// "1 (subject \"Lunch\"):message".
class Deliveries {
public:
    explicit Deliveries(SnppServer& server) {
        QObject::connect(&server, &SnppServer::pageDelivered, [this](const Page& page) {
            const QByteArray line = dazoroz::snppd::pageLine(page);
            const QByteArray id = line.mid(5, line.indexOf(": ") - 5); // after "page "
            pages += (pages.isEmpty() ? "" : "|") + id + ':' + page.message;
        });
    }
    QByteArray pages;
};

ServerOptions quickIdle() {
    ServerOptions options;
    options.idleTimeout = std::chrono::milliseconds(300);
    return options;
}

void row(const char* name, const ServerOptions& options, const QByteArray& input,
         const QByteArray& codes, const QByteArray& pages = {}) {
    QTest::newRow(name) << options << input << codes << pages << false;
}

// The client ends its input right after sending it, as `nc -N` does.
void halfClosing(const char* name, const ServerOptions& options, const QByteArray& input,
                 const QByteArray& codes, const QByteArray& pages = {}) {
    QTest::newRow(name) << options << input << codes << pages << true;
}

// A plain server, input ended by QUIT; the codes between the greeting and QUIT's 221.
void dialogue(const char* name, const QByteArray& input, const QByteArray& codes,
              const QByteArray& pages = {}) {
    row(name, {}, input + "QUIT\r\n", "220 " + codes + " 221", pages);
}

// A plain socket, to tell a reset from an orderly close.
class RawClient {
public:
    explicit RawClient(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    void send(const QByteArray& data) const {
        QVERIFY(::send(fd_, data.constData(), static_cast<std::size_t>(data.size()), 0) ==
                data.size());
    }
    // Reads until the received text ends a line, or the connection ends. Returns errno of the
    // end (0 for an orderly close, -1 while it is still open).
    int readLineOrEnd() {
        int end = -1;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                char buffer[512];
                const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got > 0) {
                    received += QByteArray(buffer, got);
                    return received.endsWith('\n');
                }
                if (got == 0 || errno != EAGAIN) {
                    end = got == 0 ? 0 : errno;
                    return true;
                }
                return false;
            },
            waitMs));
        return end;
    }
    QByteArray received;

private:
    int fd_;
    bool connected_ = false;
};

} // namespace

class TestSnppServer : public QObject {
    Q_OBJECT

private slots:
    void fullExchange();
    void exchange_data();
    void exchange();
    void reset_data();
    void reset();
    void splitReplies_data();
    void splitReplies();
    void severalClients();
    void idleTimeout();
    void onlyAcceptedCommandsKeepASlot();
    void loginGuard();
    void loginGuessesAcrossConnections();
    void traceHidesLogins();
    void destroyedWithClients();
};

void TestSnppServer::fullExchange() {
    SnppServer server;
    QVERIFY(server.listen());
    QSignalSpy counts(&server, &SnppServer::clientCountChanged);
    Deliveries deliveries(server);

    TestClient client(server.serverPort());
    QVERIFY(client.waitForLines(1));
    for (char byte : QByteArray("PAGE 1234\r\n")) { // a command may come in pieces
        client.send(QByteArray(1, byte));
        client.socket().flush();
    }
    QVERIFY(client.waitForLines(2));
    QVERIFY(client.command("MESS Call home"));
    QVERIFY(deliveries.pages.isEmpty());
    QVERIFY(client.command("SEND"));
    QCOMPARE(deliveries.pages, QByteArray("1234:Call home"));
    QVERIFY(client.command("QUIT"));
    QVERIFY(client.waitForClose());

    QCOMPARE(client.received(), QByteArray("220 Dazoroz SNPP server ready\r\n"
                                           "250 Pager ID Accepted\r\n"
                                           "250 Message OK\r\n"
                                           "250 Message Sent Successfully\r\n"
                                           "221 OK, Goodbye\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(counts.size(), 2, waitMs);
    QCOMPARE(counts.at(0).at(0).toInt(), 1);
    QCOMPARE(counts.at(1).at(0).toInt(), 0);
    QCOMPARE(server.pagesDelivered(), qint64(1));
}

void TestSnppServer::exchange_data() {
    QTest::addColumn<ServerOptions>("options");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("codes"); // everything the client receives up to the close
    QTest::addColumn<QByteArray>("pages");
    QTest::addColumn<bool>("endInput");

    dialogue("lower case and long names", "pager 1\r\nmessage hi\r\nsend\r\n", "250 250 250",
             "1:hi");
    dialogue("bare line feeds", "PAGE 1\nMESS hi\nSEND\n", "250 250 250", "1:hi");
    dialogue("message before pager ID", "MESS hi\r\nPAGE 7\r\nSEND\r\n", "250 250 250", "7:hi");
    dialogue("SEND starts a new page",
             "PAGE 1\r\nMESS a\r\nSEND\r\nSEND\r\nMESS b\r\nSEND\r\nPAGE 2\r\nSEND\r\n",
             "250 250 250 503 250 503 250 250", "1:a|2:b");
    dialogue("password ignored", "PAGE 1 secret\r\nMESS a\r\nSEND\r\n", "250 250 250", "1:a");
    dialogue("message kept as sent", "PAGE 1\r\nMESS  two  blanks \r\nSEND\r\n", "250 250 250",
             "1: two  blanks ");
    dialogue("page incomplete", "SEND\r\nPAGE 1\r\nSEND\r\nRESE\r\nMESS a\r\nSEND\r\n",
             "503 250 503 250 250 503");
    dialogue("second MESS", "PAGE 1\r\nMESS a\r\nMESS b\r\nSEND\r\n", "250 250 503 250", "1:a");
    dialogue("bad pager IDs",
             "PAGE\r\nPAGE   \r\nPAGE 1 pw more\r\nPAGE 1\x01"
             "2\r\nPAGE 1\t2\r\nPAGE " +
                 QByteArray(65, '2') + "\r\nPAGE " + QByteArray(64, '1') + "\r\n",
             "550 550 550 550 550 550 250");
    dialogue("empty message", "MESS\r\nMESS \r\n", "550 550");
    dialogue("RESE drops the page", "PAGE 1\r\nMESS a\r\nRESE\r\nSEND\r\nreset\r\n",
             "250 250 250 503 250");
    dialogue("HELP", "HELP\r\n", QByteArray("214 ").repeated(15) + "250");
    dialogue("unknown commands", "FOO\r\nSITE HELP NOTIFY\r\nPAGEX 1\r\n\r\n \r\n",
             "500 500 500 500 500");
    dialogue("LOGI needed by nothing", "LOGI me secret\r\nlogin me\r\nLOGI\r\n", "250 250 550");

    // Errors of every kind count towards the ten in a row that end a connection; an accepted
    // command starts the count again.
    row("ten errors in a row", {},
        "\r\n \r\nFOO\r\nPAGE\r\nSEND\r\nMESS\r\nMESS " + QByteArray(4092, 'x') +
            "\r\nPAGE 1 2 3\r\nSITE\r\nPAGEX 1\r\nPAGE 1\r\nQUIT\r\n",
        "220 500 500 500 550 503 550 500 550 500 500 421");
    dialogue("nine errors, then an accepted command",
             QByteArray("FOO\r\n").repeated(9) + "RESE\r\n" + QByteArray("\r\n").repeated(9),
             QByteArray("500 ").repeated(9) + "250 " + QByteArray("500 ").repeated(8) + "500");

    // Line length: the longest line, one byte more, far more; the longest message a client can
    // type (999 characters of three bytes).
    const QByteArray tail = "\r\nPAGE 1\r\nSEND\r\n";
    dialogue("longest line", "MESS " + QByteArray(4091, 'x') + tail, "250 250 250",
             "1:" + QByteArray(4091, 'x'));
    dialogue("one byte too long", "MESS " + QByteArray(4092, 'x') + tail, "500 250 503");
    dialogue("one byte too long, bare line feed",
             "MESS " + QByteArray(4092, 'x') + "\nPAGE 1\r\nSEND\r\n", "500 250 503");
    dialogue("a megabyte", "MESS " + QByteArray(1 << 20, 'x') + tail, "500 250 503");
    const QByteArray euros = QString(999, QChar(0x20AC)).toUtf8();
    dialogue("longest message a client can type", "MESS " + euros + tail, "250 250 250",
             "1:" + euros);

    // Level 2: DATA's lines until ".", their doubled dots undone, its line ends CR LF or LF; the
    // options of the page until SEND or RESE.
    dialogue("DATA", "PAGE 1\r\nDATA\r\nline one\n..dot\r\n\r\n.x\r\nQUIT\r\n.\r\nSEND\r\n",
             "250 354 250 250", "1:line one\n.dot\n\nx\nQUIT");
    dialogue("DATA refused", "DATA\r\n.\r\nDATA\r\n\r\n.\r\nMESS a\r\nDATA\r\n",
             "354 550 354 550 250 503");
    dialogue("DATA over the line and the total limits",
             "DATA\r\n" + QByteArray(5000, 'x') + "\r\n.\r\nDATA\r\n" +
                 QByteArray("x\r\n").repeated(2047) + ".\r\nDATA\r\n" +
                 QByteArray("x\r\n").repeated(2046) + ".\r\nPAGE 1\r\nSEND\r\n",
             "354 550 354 550 354 250 250 250", "1:" + QByteArray("x\n").repeated(2045) + 'x');
    dialogue("options shown until SEND",
             "LEVE 0\r\nLEVE 11\r\nALER 1\r\nCOVE east\r\nHOLD 2612081254\r\n"
             "HOLD 261208125400 -0500\r\nSUBJ Disk full\r\nCALL 5551234\r\nPAGE 1\r\nMESS a\r\n"
             "SEND\r\nPAGE 2\r\nMESS b\r\nSEND\r\n",
             QByteArray("250 ").repeated(13) + "250",
             "1 (hold until 261208125400 -0500, subject \"Disk full\", caller 5551234):a|2:b");
    dialogue("options refused",
             "LEVE 12\r\nLEVE -1\r\nALER 2\r\nHOLD 2613081254\r\nHOLD 26120812\r\n"
             "HOLD 2612081254 0500\r\nSUBJ\r\nCALL\r\nCOVE\r\n",
             QByteArray("550 ").repeated(8) + "550");
    dialogue("RESE drops the options and the text",
             "PAGE 1\r\nSUBJ s\r\nDATA\r\nx\r\n.\r\nRESE\r\nPAGE 2\r\nMESS y\r\nSEND\r\n",
             "250 250 354 250 250 250 250 250", "2:y");
    ServerOptions limited;
    limited.maxMessageLength = 5;
    row("a longest message", limited,
        "PAGE 1\r\nMESS 123456\r\nMESS 12345\r\nSEND\r\nPAGE 2\r\nDATA\r\n12\r\n345\r\n.\r\n"
        "DATA\r\n12\r\n34\r\n.\r\nSEND\r\nQUIT\r\n",
        "220 250 550 250 250 250 354 550 354 250 250 221", "1:12345|2:12\n34");
    row("DATA never ended", quickIdle(), "PAGE 1\r\nDATA\r\nQUIT\r\n", "220 250 354 421");

    ServerOptions o = quickIdle();
    o.failPagers = {"666", "13"};
    row("fail pager", o, "PAGE 1\r\nPAGE 666\r\nPAGE 13 pw\r\nPAGE 2\r\nMESS a\r\nSEND\r\nQUIT\r\n",
        "220 250 550 550 250 250 250 221", "1:a|2:a");

    const auto failAt = [](Step step, int occurrence) {
        ServerOptions options = quickIdle();
        options.failAt = StepTrigger{step, occurrence};
        return options;
    };
    const QByteArray twoPages = "PAGE 1\r\nMESS a\r\nSEND\r\nPAGE 2\r\nMESS b\r\nSEND\r\nQUIT\r\n";
    row("fail at greeting", failAt(Step::Greeting, 1), twoPages, "421");
    row("fail at page", failAt(Step::Page, 1), twoPages, "220 421");
    row("fail at second page", failAt(Step::Page, 2), twoPages, "220 250 250 250 421", "1:a");
    row("fail at mess", failAt(Step::Mess, 1), twoPages, "220 250 421");
    row("fail at data", failAt(Step::Data, 1), "PAGE 1\r\nDATA\r\nx\r\n", "220 250 421");
    row("fail at send, nothing delivered", failAt(Step::Send, 1), twoPages, "220 250 250 421");
    row("fail at quit", failAt(Step::Quit, 1), twoPages, "220 250 250 250 250 250 250 421",
        "1:a|2:b");

    // A silent server is closed by its idle limit, without a word.
    const auto silentAt = [](Step step, int occurrence) {
        ServerOptions options = quickIdle();
        options.silentAt = StepTrigger{step, occurrence};
        return options;
    };
    row("silent", silentAt(Step::Greeting, 1), twoPages, "");
    row("silent from mess", silentAt(Step::Mess, 1), twoPages, "220 250");
    row("silent from second send", silentAt(Step::Send, 2), twoPages, "220 250 250 250 250 250",
        "1:a");

    // With a login to check: PAGE, MESS and SEND wait for it; a failed LOGI ends the login before
    // it; the fifth failure ends the connection.
    o = {};
    o.loginId = "pat";
    o.loginPassword = "s3 cret";
    o.loginFailureDelay = std::chrono::milliseconds(1);
    row("login needed", o,
        "PAGE 1\r\nMESS a\r\nDATA\r\nSUBJ s\r\nSEND\r\nRESE\r\nLOGI pat s3 cret\r\nPAGE 1\r\n"
        "MESS a\r\nSEND\r\nQUIT\r\n",
        "220 530 530 530 530 530 250 250 250 250 250 221", "1:a");
    row("wrong logins", o,
        "LOGI\r\nLOGI pat\r\nLOGI bob s3 cret\r\nLOGI pat s3 cret\r\nLOGI pat s3 cretx\r\n"
        "PAGE 1\r\nQUIT\r\n",
        "220 550 550 550 250 550 530 221");
    row("five failed logins", o, QByteArray("LOGI pat s3\r\n").repeated(5) + "QUIT\r\n",
        "220 550 550 550 550 421");
    o.loginPassword.reset();
    row("login ID alone", o, "LOGI bob\r\nLOGI pat\r\nLOGI pat anything\r\nPAGE 1\r\nQUIT\r\n",
        "220 550 250 250 250 221");

    o = quickIdle();
    o.noClose = true;
    row("no close after QUIT", o, "QUIT\r\nPAGE 1\r\n", "220 221 250 421");

    o = quickIdle();
    o.maxRecipients = 2;
    row("too many pager IDs", o,
        "PAGE 1\r\nPAGE 2\r\nPAGE 3\r\nMESS a\r\nSEND\r\nPAGE 4\r\nQUIT\r\n",
        "220 250 250 552 250 250 250 221", "1:a|2:a");

    o = quickIdle();
    o.split = SplitMode::TwoPieces;
    o.splitDelay = std::chrono::milliseconds(1);
    row("split replies", o, twoPages, "220 250 250 250 250 250 250 221", "1:a|2:b");
    o.split = SplitMode::Bytes;
    o.failAt = StepTrigger{Step::Send, 2};
    row("byte by byte, closing", o, twoPages, "220 250 250 250 250 250 421", "1:a");

    // Every command read before the end of the client's input is answered before the close.
    halfClosing("end: commands, no QUIT", {}, "PAGE 1\r\nMESS a\r\nSEND\r\n", "220 250 250 250",
                "1:a");
    halfClosing("end: unfinished last line", {}, "PAGE 1\r\nMESS a\r\nSEND", "220 250 250");
    halfClosing("end: inside an overlong line", {}, "PAGE 1\r\nMESS " + QByteArray(5000, 'x'),
                "220 250");
    halfClosing("end: after QUIT", {}, "QUIT\r\nPAGE 1\r\n", "220 221");
    halfClosing("end: inside DATA", {}, "PAGE 1\r\nDATA\r\nx\r\n", "220 250 354");
    halfClosing("end: at once", {}, "", "220");
    o = {};
    o.outputLimit = 20; // the server stops reading after nearly every reply
    row("slow reader", o, QByteArray("RESE\r\n").repeated(2000) + "QUIT\r\n",
        "220 " + QByteArray("250 ").repeated(2000) + "221");
    halfClosing("end: slow reader", o, QByteArray("RESE\r\n").repeated(2000),
                "220 " + QByteArray("250 ").repeated(1999) + "250");
    o.split = SplitMode::Bytes;
    o.splitDelay = std::chrono::milliseconds(0);
    halfClosing("end: byte by byte", o, "PAGE 1\r\nMESS a\r\nSEND\r\n", "220 250 250 250", "1:a");
}

void TestSnppServer::exchange() {
    QFETCH(ServerOptions, options);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, codes);
    QFETCH(QByteArray, pages);
    QFETCH(bool, endInput);

    SnppServer server(options);
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient client(server.serverPort());
    // All commands in one go: the replies must still come one per line, in order.
    client.send(input);
    if (endInput) {
        QVERIFY(client.socket().waitForConnected(waitMs));
        client.halfClose();
    }
    QVERIFY(client.waitForClose());

    QCOMPARE(client.codes(), codes);
    QVERIFY(client.received().isEmpty() || client.received().endsWith("\r\n"));
    QCOMPARE(deliveries.pages, pages);
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, waitMs);
}

void TestSnppServer::reset_data() {
    QTest::addColumn<StepTrigger>("trigger");
    QTest::addColumn<QByteArray>("codes"); // received before the reset
    QTest::addColumn<QByteArray>("pages");

    QTest::newRow("greeting") << StepTrigger{Step::Greeting, 1} << QByteArray() << QByteArray();
    QTest::newRow("page") << StepTrigger{Step::Page, 1} << QByteArray("220") << QByteArray();
    QTest::newRow("send") << StepTrigger{Step::Send, 1} << QByteArray("220 250 250")
                          << QByteArray();
    QTest::newRow("second page") << StepTrigger{Step::Page, 2} << QByteArray("220 250 250 250")
                                 << QByteArray("1:a");
    QTest::newRow("quit") << StepTrigger{Step::Quit, 1} << QByteArray("220 250 250 250 250")
                          << QByteArray("1:a");
}

void TestSnppServer::reset() {
    QFETCH(StepTrigger, trigger);
    QFETCH(QByteArray, codes);
    QFETCH(QByteArray, pages);

    ServerOptions options;
    options.resetAt = trigger;
    SnppServer server(options);
    QVERIFY(server.listen());
    Deliveries deliveries(server);

    RawClient client(server.serverPort());
    QVERIFY(client.connected());
    // One command at a time, each after the reply to the one before.
    int end = client.readLineOrEnd();
    for (const char* command : {"PAGE 1", "MESS a", "SEND", "PAGE 2", "QUIT"}) {
        if (end != -1) {
            break;
        }
        client.send(command + QByteArray("\r\n"));
        end = client.readLineOrEnd();
    }
    QCOMPARE(end, ECONNRESET);
    QCOMPARE(replyCodes(client.received), codes);
    QCOMPARE(deliveries.pages, pages);
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, waitMs);
}

void TestSnppServer::splitReplies_data() {
    QTest::addColumn<SplitMode>("mode");
    QTest::addColumn<QList<QByteArray>>("chunks");

    QTest::newRow("two pieces") << SplitMode::TwoPieces
                                << QList<QByteArray>{"2", "20 \x02x\r\n", "2", "50 RESET OK\r\n"};
    QList<QByteArray> bytes;
    for (char c : QByteArray("220 \x02x\r\n250 RESET OK\r\n")) {
        bytes.append(QByteArray(1, c));
    }
    QTest::newRow("byte by byte") << SplitMode::Bytes << bytes;
}

void TestSnppServer::splitReplies() {
    QFETCH(SplitMode, mode);
    QFETCH(QList<QByteArray>, chunks);

    ServerOptions options;
    options.banner = "x";
    options.split = mode;
    // Long enough that the client reads every piece on its own.
    options.splitDelay = std::chrono::milliseconds(100);
    SnppServer server(options);
    QVERIFY(server.listen());
    TestClient client(server.serverPort());
    QVERIFY(client.waitForLines(1));
    QVERIFY(client.command("RESE"));
    QCOMPARE(client.chunks(), chunks);
}

void TestSnppServer::severalClients() {
    ServerOptions options;
    options.maxClients = 2;
    SnppServer server(options);
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient a(server.serverPort());
    TestClient b(server.serverPort());
    QVERIFY(a.waitForLines(1));
    QVERIFY(b.waitForLines(1));
    TestClient refused(server.serverPort());
    QVERIFY(refused.waitForClose());
    QCOMPARE(refused.received(), QByteArray("421 Too Many Connections, Try Again Later\r\n"));
    QCOMPARE(server.clientCount(), 2);

    // Each connection builds its own page.
    QVERIFY(a.command("PAGE 1"));
    QVERIFY(b.command("PAGE 2"));
    QVERIFY(a.command("MESS from a"));
    QVERIFY(b.command("MESS from b"));
    QVERIFY(b.command("SEND"));
    QVERIFY(a.command("SEND"));
    QCOMPARE(deliveries.pages, QByteArray("2:from b|1:from a"));
    QCOMPARE(a.codes(), QByteArray("220 250 250 250"));
    QCOMPARE(b.codes(), QByteArray("220 250 250 250"));

    // A client that leaves makes room for another.
    QVERIFY(b.command("QUIT"));
    QVERIFY(b.waitForClose());
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, waitMs);
    TestClient later(server.serverPort());
    QVERIFY(later.waitForLines(1));
    QCOMPARE(later.codes(), QByteArray("220"));
}

void TestSnppServer::idleTimeout() {
    SnppServer server(quickIdle());
    QVERIFY(server.listen());
    QElapsedTimer clock;
    clock.start();
    TestClient client(server.serverPort());
    QVERIFY(client.waitForLines(1));
    QVERIFY(client.command("PAGE 1"));
    QVERIFY(client.waitForClose());
    QVERIFY(clock.elapsed() >= 300);
    QCOMPARE(client.received(), QByteArray("220 Dazoroz SNPP server ready\r\n"
                                           "250 Pager ID Accepted\r\n421 Timeout, Goodbye\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, waitMs);
}

void TestSnppServer::onlyAcceptedCommandsKeepASlot() {
    // Every slot taken by a client that sends an empty line or a bad command now and then: the
    // idle limit still ends each of them, and the slots come free.
    ServerOptions options;
    options.idleTimeout = std::chrono::milliseconds(1000);
    SnppServer server(options);
    QVERIFY(server.listen());
    std::vector<std::unique_ptr<TestClient>> holders;
    for (int i = 0; i < options.maxClients; ++i) {
        holders.push_back(std::make_unique<TestClient>(server.serverPort()));
    }
    for (const auto& holder : holders) {
        QVERIFY(holder->waitForLines(1));
    }
    QTimer chatter;
    int round = 0;
    QObject::connect(&chatter, &QTimer::timeout, [&] {
        for (const auto& holder : holders) {
            if (holder->socket().state() == QAbstractSocket::ConnectedState) {
                holder->send(round % 2 == 0 ? "\r\n" : "FOO\r\n");
            }
        }
        ++round;
    });
    chatter.start(150);
    TestClient refused(server.serverPort());
    QVERIFY(refused.waitForClose());
    QCOMPARE(refused.codes(), QByteArray("421"));

    // A slot is free as soon as its 421 is sent, though the client goes on sending.
    for (const auto& holder : holders) {
        QVERIFY(QTest::qWaitFor([&] { return holder->received().contains("421"); }, 2 * waitMs));
    }
    QCOMPARE(server.clientCount(), 0);
    for (const auto& holder : holders) {
        QVERIFY(holder->waitForClose());
        QVERIFY2(QRegularExpression("^220 [^\n]*\n(500 [^\n]*\n)+421 Timeout, Goodbye\r\n\\z")
                     .match(QString::fromUtf8(holder->received()))
                     .hasMatch(),
                 holder->received().constData());
    }
    TestClient later(server.serverPort());
    QVERIFY(later.waitForLines(1));
    QCOMPARE(later.codes(), QByteArray("220"));
}

void TestSnppServer::loginGuard() {
    // Events at a second from the start: F fails a login (1: that locked the address out), L
    // asks whether the address is locked out, N how many addresses the table holds (at most 2).
    using dazoroz::snppd::LoginGuard;
    LoginGuard guard({5, std::chrono::seconds(60), std::chrono::seconds(600), 2});
    const char* const events[] = {
        // Five failures over more than a minute, then five within one.
        "F 127.0.0.1 0 0", "F 127.0.0.1 20 0", "F 127.0.0.1 40 0", "F 127.0.0.1 60 0",
        "F 127.0.0.1 80 0", "F 127.0.0.1 81 0", "F 127.0.0.1 82 1", "L 127.0.0.2 82 0",
        // Full: the address closest to expiring makes room, one locked out last.
        "F 127.0.0.2 83 0", "F 10.0.0.1 84 0", "N - 84 2", "L 127.0.0.1 84 1",
        // Expired entries go first; an IPv6 address counts with its /64.
        "F 2001:db8::1 150 0", "F 2001:db8::2 151 0", "F 2001:db8::3 152 0", "F 2001:db8::4 153 0",
        "F 2001:db8::5 154 1", "L 2001:db8:0:1::1 155 0", "N - 155 2",
        // Locked out for ten minutes; then nothing is left to remember.
        "L 127.0.0.1 681 1", "L 127.0.0.1 682 0", "F 10.0.0.2 800 0", "N - 800 1"};
    const auto start = LoginGuard::Clock::now();
    for (const char* event : events) {
        const QStringList e = QString::fromLatin1(event).split(QLatin1Char(' '));
        const QHostAddress address(e.at(1));
        const auto now = start + std::chrono::seconds(e.at(2).toInt());
        const std::size_t got = e.at(0) == QLatin1String("F")   ? guard.failed(address, now)
                                : e.at(0) == QLatin1String("L") ? guard.lockedOut(address, now)
                                                                : guard.size();
        QVERIFY2(got == e.at(3).toUInt(), event);
    }
}

void TestSnppServer::loginGuessesAcrossConnections() {
    ServerOptions options;
    options.loginId = "pat";
    options.loginPassword = "s3cret";
    options.trace = true;
    SnppServer server(options);
    QVERIFY(server.listen());
    int logins = 0;
    connect(&server, &SnppServer::trace,
            [&](const QString& line) { logins += line.contains(QLatin1String("> LOGI")) ? 1 : 0; });
    // Five guesses on five connections at once, each followed by a command; their answers wait
    // a second.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<TestClient>> guessers;
    for (int i = 0; i < 5; ++i) {
        guessers.push_back(std::make_unique<TestClient>(server.serverPort()));
        guessers.back()->send("LOGI pat guess" + QByteArray::number(i) + "\r\nRESE\r\n");
    }
    QTRY_COMPARE_WITH_TIMEOUT(logins, 5, waitMs);
    // Meanwhile the address is locked out, whatever the password; another one is not.
    TestClient sixth(server.serverPort());
    sixth.send("LOGI pat s3cret\r\n");
    QVERIFY(sixth.waitForClose());
    QCOMPARE(sixth.received().split('\n').value(1),
             QByteArray("421 Too Many Failed Logins, Try Again Later\r"));
    TestClient elsewhere(server.serverPort(), QHostAddress(QHostAddress::LocalHost),
                         QHostAddress(QStringLiteral("127.0.0.2")));
    elsewhere.send("LOGI pat s3cret\r\n");
    QVERIFY(elsewhere.waitForLines(2));
    QCOMPARE(elsewhere.codes(), QByteArray("220 250"));
    QByteArrayList answers;
    for (const auto& guesser : guessers) {
        QCOMPARE(guesser->codes(), QByteArray("220"));
    }
    for (const auto& guesser : guessers) {
        static_cast<void>(guesser->waitForLines(3));
        answers << guesser->codes();
    }
    QVERIFY(clock.elapsed() >= 1000);
    std::sort(answers.begin(), answers.end());
    QCOMPARE(answers, (QByteArrayList{"220 421", "220 550 250", "220 550 250", "220 550 250",
                                      "220 550 250"}));
}

void TestSnppServer::traceHidesLogins() {
    ServerOptions options;
    options.loginId = "pat";
    options.loginPassword = "S3cretPW";
    options.loginGuard.maxFailures = 100;
    options.loginFailureDelay = std::chrono::milliseconds(0);
    options.trace = true;
    SnppServer server(options);
    QVERIFY(server.listen());
    QByteArrayList traced;
    connect(&server, &SnppServer::trace, [&](const QString& line) {
        if (line.contains(QLatin1String(" > "))) {
            traced << line.section(QLatin1String(" > "), 1).toUtf8();
        }
    });
    TestClient client(server.serverPort());
    client.send("LOGI pat S3cretPW\r\nDATA\r\nLOGI pat S3cretPW\r\n.\r\nLOGI\tpat\tS3cretPW\r\n"
                "login pat\tS3cretPW\r\nLoGiN S3cretPW\r\n"
                "LOGIS3cretPW\r\nLOGI  pat S3cretPW\r\nLOGI pat\r\nLOGI\r\nQUIT\r\n");
    QVERIFY(client.waitForClose());
    // A line of DATA's text is shown as a command line would be.
    QCOMPARE(traced,
             (QByteArrayList{"LOGI pat <password>", "DATA", "LOGI pat <password>", ".",
                             "LOGI <not shown>", "login <not shown>", "LoGiN <not shown>",
                             "LOGI <not shown>", "LOGI <not shown>", "LOGI pat", "LOGI", "QUIT"}));
}

void TestSnppServer::destroyedWithClients() {
    auto server = std::make_unique<SnppServer>();
    QVERIFY(server->listen());
    TestClient client(server->serverPort());
    QVERIFY(client.waitForLines(1));
    server.reset();
    QVERIFY(client.waitForClose());
}

QTEST_GUILESS_MAIN(TestSnppServer)
#include "test_server.moc"
