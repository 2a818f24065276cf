// The SNPP server class driven in-process on 127.0.0.1 by clients in the same event loop.

#include "snpp_test_client.h"
#include "snppd/snpp_server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <netinet/in.h>

using dazoroz::snppd::ServerOptions;
using dazoroz::snppd::SnppServer;
using dazoroz::snppd::SplitMode;
using dazoroz::snppd::Step;
using dazoroz::snppd::StepTrigger;
using dazoroz::snppd::testing::TestClient;
using dazoroz::snppd::testing::waitMs;

Q_DECLARE_METATYPE(ServerOptions)
Q_DECLARE_METATYPE(StepTrigger)
Q_DECLARE_METATYPE(SplitMode)

namespace {

using Codes = QList<QByteArray>;

// Records delivered pages as "id:message".
class Deliveries {
public:
    explicit Deliveries(SnppServer& server) {
        QObject::connect(&server, &SnppServer::pageDelivered,
                         [this](const QByteArray& id, const QByteArray& message) {
                             pages.append(id + ':' + message);
                         });
    }
    QList<QByteArray> pages;
};

ServerOptions quickIdle(ServerOptions options = {}) {
    options.idleTimeout = std::chrono::milliseconds(300);
    return options;
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
                if (got == 0) {
                    end = 0;
                    return true;
                }
                if (errno != EAGAIN) {
                    end = errno;
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
    void dialogue_data();
    void dialogue();
    void commandInPieces();
    void withOptions_data();
    void withOptions();
    void reset_data();
    void reset();
    void splitReplies_data();
    void splitReplies();
    void twoClientsAtOnce();
    void tooManyClients();
    void overlongLine_data();
    void overlongLine();
    void idleTimeout();
    void slowReaderGetsEveryReply();
    void destroyedWithClients();
};

void TestSnppServer::fullExchange() {
    SnppServer server;
    QVERIFY(server.listen());
    QSignalSpy counts(&server, &SnppServer::clientCountChanged);
    Deliveries deliveries(server);

    TestClient client(server.serverPort());
    QVERIFY(client.waitForLines(1));
    QVERIFY(client.command("PAGE 1234"));
    QVERIFY(client.command("MESS Call home"));
    QVERIFY(deliveries.pages.isEmpty());
    QVERIFY(client.command("SEND"));
    QCOMPARE(deliveries.pages, QList<QByteArray>{"1234:Call home"});
    QVERIFY(client.command("QUIT"));
    QVERIFY(client.waitForClose());

    QCOMPARE(client.lines(), (QList<QByteArray>{
                                 "220 Dazoroz SNPP server ready",
                                 "250 Pager ID Accepted",
                                 "250 Message OK",
                                 "250 Message Sent Successfully",
                                 "221 OK, Goodbye",
                             }));
    QTRY_COMPARE_WITH_TIMEOUT(counts.size(), 2, waitMs);
    QCOMPARE(counts.at(0).at(0).toInt(), 1);
    QCOMPARE(counts.at(1).at(0).toInt(), 0);
    QCOMPARE(server.pagesDelivered(), qint64(1));
}

void TestSnppServer::dialogue_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Codes>("codes"); // after the greeting, before QUIT's 221
    QTest::addColumn<QList<QByteArray>>("pages");

    QTest::newRow("lower case and long names")
        << QByteArray("pager 1\r\nmessage hi\r\nsend\r\n") << Codes{"250", "250", "250"}
        << QList<QByteArray>{"1:hi"};
    QTest::newRow("bare line feeds") << QByteArray("PAGE 1\nMESS hi\nSEND\n")
                                     << Codes{"250", "250", "250"} << QList<QByteArray>{"1:hi"};
    QTest::newRow("message before pager ID")
        << QByteArray("MESS hi\r\nPAGE 7\r\nSEND\r\n") << Codes{"250", "250", "250"}
        << QList<QByteArray>{"7:hi"};
    QTest::newRow("several PAGE, one SEND")
        << QByteArray("PAGE 1\r\nPAGE 2\r\nPAGE 3\r\nMESS hi\r\nSEND\r\n")
        << Codes{"250", "250", "250", "250", "250"} << QList<QByteArray>{"1:hi", "2:hi", "3:hi"};
    QTest::newRow("SEND starts a new page")
        << QByteArray("PAGE 1\r\nMESS a\r\nSEND\r\nSEND\r\nMESS b\r\nSEND\r\nPAGE 2\r\nSEND\r\n")
        << Codes{"250", "250", "250", "503", "250", "503", "250", "250"}
        << QList<QByteArray>{"1:a", "2:b"};
    QTest::newRow("password ignored") << QByteArray("PAGE 1 secret\r\nMESS a\r\nSEND\r\n")
                                      << Codes{"250", "250", "250"} << QList<QByteArray>{"1:a"};
    QTest::newRow("message kept as sent")
        << QByteArray("PAGE 1\r\nMESS  two  blanks \r\nSEND\r\n") << Codes{"250", "250", "250"}
        << QList<QByteArray>{"1: two  blanks "};
    QTest::newRow("page incomplete")
        << QByteArray("SEND\r\nPAGE 1\r\nSEND\r\nRESE\r\nMESS a\r\nSEND\r\n")
        << Codes{"503", "250", "503", "250", "250", "503"} << QList<QByteArray>{};
    QTest::newRow("second MESS") << QByteArray("PAGE 1\r\nMESS a\r\nMESS b\r\nSEND\r\n")
                                 << Codes{"250", "250", "503", "250"} << QList<QByteArray>{"1:a"};
    QTest::newRow("bad pager IDs")
        << QByteArray("PAGE\r\nPAGE   \r\nPAGE 1 pw more\r\nPAGE 1\x01"
                      "2\r\nPAGE 1\t2\r\nPAGE " +
                      QByteArray(65, '2') + "\r\nPAGE " + QByteArray(64, '1') + "\r\n")
        << Codes{"550", "550", "550", "550", "550", "550", "250"} << QList<QByteArray>{};
    QTest::newRow("empty message")
        << QByteArray("MESS\r\nMESS \r\n") << Codes{"550", "550"} << QList<QByteArray>{};
    QTest::newRow("RESE drops the page")
        << QByteArray("PAGE 1\r\nMESS a\r\nRESE\r\nSEND\r\nreset\r\n")
        << Codes{"250", "250", "250", "503", "250"} << QList<QByteArray>{};
    QTest::newRow("HELP") << QByteArray("HELP\r\n")
                          << Codes{"214", "214", "214", "214", "214", "214", "214", "250"}
                          << QList<QByteArray>{};
    QTest::newRow("unknown commands")
        << QByteArray("FOO\r\nLOGI me secret\r\nDATA\r\nPAGEX 1\r\n\r\n \r\n")
        << Codes{"500", "500", "500", "500", "500", "500"} << QList<QByteArray>{};
}

void TestSnppServer::dialogue() {
    QFETCH(QByteArray, input);
    QFETCH(Codes, codes);
    QFETCH(QList<QByteArray>, pages);

    SnppServer server;
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient client(server.serverPort());
    // All commands in one go: the replies must still come one per line, in order.
    client.send(input + "QUIT\r\n");
    QVERIFY(client.waitForClose());

    Codes expected = Codes{"220"} + codes + Codes{"221"};
    QCOMPARE(client.codes(), expected);
    QVERIFY(client.received().endsWith("\r\n"));
    QCOMPARE(deliveries.pages, pages);
}

void TestSnppServer::commandInPieces() {
    SnppServer server;
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient client(server.serverPort());
    QVERIFY(client.waitForLines(1));
    const QByteArray input = "PAGE 42\r\nMESS in pieces\r\nSEND\r\n";
    for (char byte : input) {
        client.send(QByteArray(1, byte));
        client.socket().flush();
    }
    QVERIFY(client.waitForLines(4));
    QCOMPARE(client.codes(), (Codes{"220", "250", "250", "250"}));
    QCOMPARE(deliveries.pages, QList<QByteArray>{"42:in pieces"});
}

void TestSnppServer::withOptions_data() {
    QTest::addColumn<ServerOptions>("options");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Codes>("codes"); // everything the client receives up to the close
    QTest::addColumn<QList<QByteArray>>("pages");

    ServerOptions o = quickIdle();
    o.failPagers = {"666", "13"};
    QTest::newRow("fail pager")
        << o
        << QByteArray("PAGE 1\r\nPAGE 666\r\nPAGE 13 pw\r\nPAGE 2\r\nMESS a\r\nSEND\r\nQUIT\r\n")
        << Codes{"220", "250", "550", "550", "250", "250", "250", "221"}
        << QList<QByteArray>{"1:a", "2:a"};

    const auto failAt = [](Step step, int occurrence) {
        ServerOptions options = quickIdle();
        options.failAt = StepTrigger{step, occurrence};
        return options;
    };
    const QByteArray twoPages = "PAGE 1\r\nMESS a\r\nSEND\r\nPAGE 2\r\nMESS b\r\nSEND\r\nQUIT\r\n";
    QTest::newRow("fail at greeting")
        << failAt(Step::Greeting, 1) << twoPages << Codes{"421"} << QList<QByteArray>{};
    QTest::newRow("fail at page") << failAt(Step::Page, 1) << twoPages << Codes{"220", "421"}
                                  << QList<QByteArray>{};
    QTest::newRow("fail at second page")
        << failAt(Step::Page, 2) << twoPages << Codes{"220", "250", "250", "250", "421"}
        << QList<QByteArray>{"1:a"};
    QTest::newRow("fail at mess") << failAt(Step::Mess, 1) << twoPages << Codes{"220", "250", "421"}
                                  << QList<QByteArray>{};
    QTest::newRow("fail at send, nothing delivered")
        << failAt(Step::Send, 1) << twoPages << Codes{"220", "250", "250", "421"}
        << QList<QByteArray>{};
    QTest::newRow("fail at quit") << failAt(Step::Quit, 1) << twoPages
                                  << Codes{"220", "250", "250", "250", "250", "250", "250", "421"}
                                  << QList<QByteArray>{"1:a", "2:b"};

    // A silent server is closed by its idle limit, without a word.
    const auto silentAt = [](Step step, int occurrence) {
        ServerOptions options = quickIdle();
        options.silentAt = StepTrigger{step, occurrence};
        return options;
    };
    QTest::newRow("silent") << silentAt(Step::Greeting, 1) << twoPages << Codes{}
                            << QList<QByteArray>{};
    QTest::newRow("silent from mess")
        << silentAt(Step::Mess, 1) << twoPages << Codes{"220", "250"} << QList<QByteArray>{};
    QTest::newRow("silent from second send")
        << silentAt(Step::Send, 2) << twoPages << Codes{"220", "250", "250", "250", "250", "250"}
        << QList<QByteArray>{"1:a"};

    o = quickIdle();
    o.noClose = true;
    QTest::newRow("no close after QUIT")
        << o << QByteArray("QUIT\r\nPAGE 1\r\n") << Codes{"220", "221", "250", "421"}
        << QList<QByteArray>{};

    o = quickIdle();
    o.maxRecipients = 2;
    QTest::newRow("too many pager IDs")
        << o << QByteArray("PAGE 1\r\nPAGE 2\r\nPAGE 3\r\nMESS a\r\nSEND\r\nPAGE 4\r\nQUIT\r\n")
        << Codes{"220", "250", "250", "552", "250", "250", "250", "221"}
        << QList<QByteArray>{"1:a", "2:a"};

    o = quickIdle();
    o.split = SplitMode::TwoPieces;
    o.splitDelay = std::chrono::milliseconds(1);
    QTest::newRow("split replies")
        << o << twoPages << Codes{"220", "250", "250", "250", "250", "250", "250", "221"}
        << QList<QByteArray>{"1:a", "2:b"};
    o.split = SplitMode::Bytes;
    o.failAt = StepTrigger{Step::Send, 2};
    QTest::newRow("byte by byte, closing")
        << o << twoPages << Codes{"220", "250", "250", "250", "250", "250", "421"}
        << QList<QByteArray>{"1:a"};
}

void TestSnppServer::withOptions() {
    QFETCH(ServerOptions, options);
    QFETCH(QByteArray, input);
    QFETCH(Codes, codes);
    QFETCH(QList<QByteArray>, pages);

    SnppServer server(options);
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient client(server.serverPort());
    client.send(input);
    QVERIFY(client.waitForClose());

    QCOMPARE(client.codes(), codes);
    QVERIFY(client.received().isEmpty() || client.received().endsWith("\r\n"));
    QCOMPARE(deliveries.pages, pages);
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, waitMs);
}

void TestSnppServer::reset_data() {
    QTest::addColumn<StepTrigger>("trigger");
    QTest::addColumn<QList<QByteArray>>("commands"); // sent one by one, after the greeting
    QTest::addColumn<Codes>("codes");                // received before the reset
    QTest::addColumn<int>("delivered");

    const QList<QByteArray> commands{"PAGE 1", "MESS a", "SEND", "PAGE 2", "QUIT"};
    QTest::newRow("greeting") << StepTrigger{Step::Greeting, 1} << commands << Codes{} << 0;
    QTest::newRow("page") << StepTrigger{Step::Page, 1} << commands << Codes{"220"} << 0;
    QTest::newRow("send") << StepTrigger{Step::Send, 1} << commands << Codes{"220", "250", "250"}
                          << 0;
    QTest::newRow("second page") << StepTrigger{Step::Page, 2} << commands
                                 << Codes{"220", "250", "250", "250"} << 1;
    QTest::newRow("quit") << StepTrigger{Step::Quit, 1} << commands
                          << Codes{"220", "250", "250", "250", "250"} << 1;
}

void TestSnppServer::reset() {
    QFETCH(StepTrigger, trigger);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(Codes, codes);
    QFETCH(int, delivered);

    ServerOptions options;
    options.resetAt = trigger;
    SnppServer server(options);
    QVERIFY(server.listen());
    Deliveries deliveries(server);

    RawClient client(server.serverPort());
    QVERIFY(client.connected());
    int end = client.readLineOrEnd();
    for (const QByteArray& command : commands) {
        if (end != -1) {
            break;
        }
        client.send(command + "\r\n");
        end = client.readLineOrEnd();
    }
    QCOMPARE(end, ECONNRESET);
    Codes received;
    for (const QByteArray& line : client.received.split('\n')) {
        if (!line.isEmpty()) {
            received.append(line.left(3));
        }
    }
    QCOMPARE(received, codes);
    QCOMPARE(deliveries.pages.size(), delivered);
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

void TestSnppServer::twoClientsAtOnce() {
    SnppServer server;
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient a(server.serverPort());
    TestClient b(server.serverPort());
    QVERIFY(a.waitForLines(1));
    QVERIFY(b.waitForLines(1));
    QCOMPARE(server.clientCount(), 2);

    QVERIFY(a.command("PAGE 1"));
    QVERIFY(b.command("PAGE 2"));
    QVERIFY(a.command("MESS from a"));
    QVERIFY(b.command("MESS from b"));
    QVERIFY(b.command("SEND"));
    QVERIFY(a.command("SEND"));
    QCOMPARE(deliveries.pages, (QList<QByteArray>{"2:from b", "1:from a"}));
    QCOMPARE(a.codes(), (Codes{"220", "250", "250", "250"}));
    QCOMPARE(b.codes(), (Codes{"220", "250", "250", "250"}));
}

void TestSnppServer::tooManyClients() {
    ServerOptions options;
    options.maxClients = 2;
    SnppServer server(options);
    QVERIFY(server.listen());
    TestClient a(server.serverPort());
    TestClient b(server.serverPort());
    QVERIFY(a.waitForLines(1));
    QVERIFY(b.waitForLines(1));

    TestClient refused(server.serverPort());
    QVERIFY(refused.waitForClose());
    QCOMPARE(refused.lines(), QList<QByteArray>{"421 Too Many Connections, Try Again Later"});
    QCOMPARE(server.clientCount(), 2);
    QVERIFY(a.command("PAGE 1"));

    QVERIFY(b.command("QUIT"));
    QVERIFY(b.waitForClose());
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, waitMs);
    TestClient later(server.serverPort());
    QVERIFY(later.waitForLines(1));
    QCOMPARE(later.codes(), Codes{"220"});
}

void TestSnppServer::overlongLine_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Codes>("codes"); // after the greeting, before QUIT's 221
    QTest::addColumn<QByteArray>("message");

    const QByteArray tail = "\r\nPAGE 1\r\nSEND\r\n";
    QTest::newRow("longest line") << "MESS " + QByteArray(4091, 'x') + tail
                                  << Codes{"250", "250", "250"} << QByteArray(4091, 'x');
    QTest::newRow("one byte too long")
        << "MESS " + QByteArray(4092, 'x') + tail << Codes{"500", "250", "503"} << QByteArray();
    QTest::newRow("one byte too long, bare line feed")
        << "MESS " + QByteArray(4092, 'x') + "\nPAGE 1\r\nSEND\r\n"
        << Codes{"500", "250", "503"} << QByteArray();
    QTest::newRow("a megabyte") << "MESS " + QByteArray(1 << 20, 'x') + tail
                                << Codes{"500", "250", "503"} << QByteArray();
    QString euros(999, QChar(0x20AC));
    QTest::newRow("longest message a client can type")
        << "MESS " + euros.toUtf8() + tail << Codes{"250", "250", "250"} << euros.toUtf8();
}

void TestSnppServer::overlongLine() {
    QFETCH(QByteArray, input);
    QFETCH(Codes, codes);
    QFETCH(QByteArray, message);

    SnppServer server;
    QVERIFY(server.listen());
    Deliveries deliveries(server);
    TestClient client(server.serverPort());
    client.send(input + "QUIT\r\n");
    QVERIFY(client.waitForClose());
    QCOMPARE(client.codes(), Codes{"220"} + codes + Codes{"221"});
    QCOMPARE(deliveries.pages,
             message.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{"1:" + message});
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
    QCOMPARE(client.lines(), (QList<QByteArray>{"220 Dazoroz SNPP server ready",
                                                "250 Pager ID Accepted", "421 Timeout, Goodbye"}));
    QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 0, waitMs);
}

void TestSnppServer::slowReaderGetsEveryReply() {
    // A tiny output limit makes the server stop reading after nearly every reply.
    ServerOptions options;
    options.outputLimit = 20;
    SnppServer server(options);
    QVERIFY(server.listen());
    TestClient client(server.serverPort());
    QByteArray input;
    for (int i = 0; i < 2000; ++i) {
        input += "RESE\r\n";
    }
    client.send(input + "QUIT\r\n");
    QVERIFY2(client.waitForClose(), QByteArray::number(client.codes().size()).constData());
    const Codes codes = client.codes();
    QCOMPARE(codes.size(), 2002);
    QCOMPARE(codes.count("250"), 2000);
    QCOMPARE(codes.back(), QByteArray("221"));
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
