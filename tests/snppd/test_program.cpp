// The dazoroz-snppd program run as a process: its command line, its output and its failures.

#include "snpp_test_client.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <memory>

using dazoroz::snppd::testing::TestClient;
using dazoroz::snppd::testing::waitMs;

namespace {

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// For runs that end by themselves.
Finished runToEnd(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(SNPPD_PROGRAM), arguments);
    Finished result;
    if (process.waitForFinished(waitMs) && process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    } else {
        process.kill();
        process.waitForFinished(waitMs);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The program serving on a port of the system's choice, for as long as the object lives.
class RunningServer {
public:
    explicit RunningServer(QStringList arguments) {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                         [this] { out += process_.readAllStandardOutput(); });
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { err += process_.readAllStandardError(); });
        arguments << QStringLiteral("--port") << QStringLiteral("0");
        process_.start(QStringLiteral(SNPPD_PROGRAM), arguments);
        static const QRegularExpression listening(
            QStringLiteral("^dazoroz-snppd: listening on 127\\.0\\.0\\.1:(\\d+)\\n"));
        static_cast<void>(QTest::qWaitFor(
            [&] {
                const auto match = listening.match(QString::fromUtf8(err));
                port = match.hasMatch() ? match.captured(1).toUShort() : 0;
                return port != 0 || process_.state() == QProcess::NotRunning;
            },
            waitMs));
    }
    ~RunningServer() {
        process_.kill();
        process_.waitForFinished(waitMs);
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    quint16 port = 0;
    QByteArray out;
    QByteArray err;

private:
    QProcess process_;
};

} // namespace

class TestSnppdProgram : public QObject {
    Q_OBJECT

private slots:
    void helpAndVersion();
    void badUsage_data();
    void badUsage();
    void portInUse();
    void printsDeliveredPages();
    void options_data();
    void options();
};

void TestSnppdProgram::helpAndVersion() {
    const Finished help = runToEnd({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    for (const char* option :
         {"--address", "--port", "--banner", "--idle", "--max-clients", "--fail-pager", "--fail-at",
          "--silent", "--silent-at", "--reset-at", "--split", "--byte-by-byte", "--no-close"}) {
        QVERIFY2(help.out.contains(option), option);
    }
    QVERIFY(help.err.isEmpty());

    const Finished version = runToEnd({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("dazoroz-snppd " DAZOROZ_VERSION "\n"));
}

void TestSnppdProgram::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("argument") << QStringList{"extra"} << "extra";
    QTest::newRow("port not a number") << QStringList{"--port", "abc"} << "--port";
    QTest::newRow("port too big") << QStringList{"--port", "65536"} << "--port";
    QTest::newRow("port negative") << QStringList{"--port", "-1"} << "--port";
    QTest::newRow("port missing") << QStringList{"--port"} << "port";
    QTest::newRow("address a name") << QStringList{"--address", "paging.example"} << "--address";
    QTest::newRow("idle zero") << QStringList{"--idle", "0"} << "--idle";
    QTest::newRow("max clients zero") << QStringList{"--max-clients", "0"} << "--max-clients";
    QTest::newRow("unknown step") << QStringList{"--fail-at", "data"} << "--fail-at";
    QTest::newRow("step count zero") << QStringList{"--reset-at", "page:0"} << "--reset-at";
    QTest::newRow("second greeting") << QStringList{"--silent-at", "greeting:2"} << "--silent-at";
    QTest::newRow("banner with a line end") << QStringList{"--banner", "a\nb"} << "--banner";
    QTest::newRow("two split modes") << QStringList{"--split", "--byte-by-byte"} << "--split";
    QTest::newRow("two silences") << QStringList{"--silent", "--silent-at", "mess"} << "--silent";
}

void TestSnppdProgram::badUsage() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    const Finished result = runToEnd(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.startsWith("dazoroz-snppd: "), result.err.constData());
    QCOMPARE(result.err.count('\n'), 1);
    QVERIFY(result.err.endsWith('\n'));
    QVERIFY2(result.err.contains(mentions.toUtf8()), result.err.constData());
}

void TestSnppdProgram::portInUse() {
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QHostAddress::LocalHost)));
    const QString port = QString::number(taken.serverPort());
    const Finished result = runToEnd({QStringLiteral("--port"), port});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err, "dazoroz-snppd: cannot listen on 127.0.0.1:" + port.toUtf8() +
                             ": the port is already in use (another server listens there)\n");
}

void TestSnppdProgram::printsDeliveredPages() {
    RunningServer server({});
    QVERIFY2(server.port != 0, server.err.constData());
    TestClient client(server.port);
    QVERIFY(client.waitForLines(1));
    QVERIFY(client.command("PAGE 1234"));
    QVERIFY(client.command("MESS Call home"));
    QVERIFY(client.command("SEND"));
    QTRY_COMPARE_WITH_TIMEOUT(server.out, QByteArray("page 1234: Call home\n"), waitMs);
    QVERIFY(client.command("PAGE 1"));
    QVERIFY(client.command("PAGE 2"));
    QVERIFY(client.command("MESS Grüße\t\x1b[2J"));
    QVERIFY(client.command("SEND"));
    QVERIFY(client.command("QUIT"));
    QVERIFY(client.waitForClose());
    QTRY_COMPARE_WITH_TIMEOUT(server.out,
                              QByteArray("page 1234: Call home\n"
                                         "page 1: Grüße\\x09\\x1B[2J\n"
                                         "page 2: Grüße\\x09\\x1B[2J\n"),
                              waitMs);
    QCOMPARE(client.codes(),
             (QList<QByteArray>{"220", "250", "250", "250", "250", "250", "250", "250", "221"}));
}

void TestSnppdProgram::options_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("received"); // up to the server's close

    const QByteArray page = "PAGE 1\r\nPAGE 666\r\nMESS a\r\nSEND\r\nQUIT\r\n";
    QTest::newRow("banner") << QStringList{"--banner", "Hello"} << QByteArray("QUIT\r\n")
                            << QByteArray("220 \x02Hello\r\n221 OK, Goodbye\r\n");
    QTest::newRow("fail pager") << QStringList{"--fail-pager", "666"} << page
                                << QByteArray(
                                       "220 Dazoroz SNPP server ready\r\n250 Pager ID Accepted\r\n"
                                       "550 Error, Invalid Pager ID\r\n250 Message OK\r\n"
                                       "250 Message Sent Successfully\r\n221 OK, Goodbye\r\n");
    QTest::newRow("fail at") << QStringList{"--fail-at", "PAGE:2"} << page
                             << QByteArray("220 Dazoroz SNPP server ready\r\n"
                                           "250 Pager ID Accepted\r\n"
                                           "421 Service Not Available, Goodbye\r\n");
    QTest::newRow("silent, idle") << QStringList{"--silent", "--idle", "1"} << page << QByteArray();
    QTest::newRow("no close, split, idle")
        << QStringList{"--no-close", "--split", "--split-delay", "1", "--idle", "1"}
        << QByteArray("QUIT\r\n")
        << QByteArray("220 Dazoroz SNPP server ready\r\n221 OK, Goodbye\r\n"
                      "421 Timeout, Goodbye\r\n");
}

void TestSnppdProgram::options() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, received);

    RunningServer server(arguments);
    QVERIFY2(server.port != 0, server.err.constData());
    TestClient client(server.port);
    client.send(input);
    QVERIFY(client.waitForClose());
    QCOMPARE(client.received(), received);
}

QTEST_GUILESS_MAIN(TestSnppdProgram)
#include "test_program.moc"
