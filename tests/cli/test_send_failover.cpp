// dazoroz-send with several servers and retries, run as a process against scripted servers on
// loopback: which server gets which page, what the program prints, when it tries again, and its
// exit status.

#include "support/refused_port.h"
#include "support/scripted_server.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>

#include <signal.h>

using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kWaitMs = 20'000;

QByteArray pages(const QList<QByteArray>& ids) {
    QByteArray bytes;
    for (const QByteArray& id : ids)
        bytes += "PAGE " + id + "\r\nMESS m\r\nSEND\r\n";
    return bytes;
}

// A server that answers the third PAGE it gets with 421 and closes.
void busyAtThirdPage(ScriptedServer& server) {
    server.useSnppScript({});
    server.setResponder([pages = 0](const QByteArray& line, int) mutable {
        if (line.startsWith("PAGE") && ++pages == 3)
            return Reply::close("421 Too many pages, goodbye\r\n");
        return Reply::send(line == "QUIT" ? "221 bye\r\n" : "250 OK\r\n");
    });
}

// One run of dazoroz-send with WINDIR's dazoroz.ini naming an unused server; standard error is
// kept line by line with the time each line came.
struct Run {
    QTemporaryDir windir;
    QProcess program;
    QByteArray out;
    QByteArray err;
    QList<qint64> errTimes; // ms from the start, one per line of err
    QElapsedTimer clock;

    explicit Run(const QStringList& args) {
        QFile ini(windir.filePath(QStringLiteral("dazoroz.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return;
        ini.write("[General]\r\nserverIP=ini.invalid\r\nserverPort=444\r\ntimeout=20\r\n");
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINDIR"), windir.path());
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(windir.path());
        clock.start();
        program.start(QStringLiteral(SEND_PROGRAM), args);
    }
    void poll() {
        out += program.readAllStandardOutput();
        for (const QByteArray& piece : program.readAllStandardError().split('\n')) {
            if (piece.isEmpty())
                continue;
            err += piece + '\n';
            errTimes << clock.elapsed();
        }
    }
    bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer limit;
        limit.start();
        while (!done() && limit.elapsed() < kWaitMs) {
            QTest::qWait(5);
            poll();
        }
        return done();
    }
    bool finish() {
        return waitFor([this] { return program.state() == QProcess::NotRunning; });
    }
};

QString hostPort(quint16 port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class TestSendFailover : public QObject {
    Q_OBJECT

private slots:
    // The second server takes over from a first that refuses the connection, or that closes
    // with 421 after two pages; a 550 from the first is final. Both servers' wires are checked.
    void servers_data() {
        QTest::addColumn<int>("first"); // 0 refuses, 1 busy at the third PAGE, 2 refuses ID 1
        QTest::addColumn<QByteArray>("firstGot");
        QTest::addColumn<QByteArray>("secondGot"); // empty: never connected
        QTest::addColumn<QByteArray>("log");       // the log lines, %2 the second's port
        QTest::addColumn<int>("exitCode");
        QTest::newRow("refused, the second delivers")
            << 0 << QByteArray() << pages({"1", "2", "3", "4", "5"}) + "QUIT\r\n"
            << QByteArray("Trying 127.0.0.1:%2 ...\n") << 0;
        QTest::newRow("two accepted, then 421: three to the second")
            << 1 << pages({"1", "2"}) + "PAGE 3\r\n"
            << pages({"3", "4", "5"}) + "QUIT\r\n"
            << QByteArray("Trying 127.0.0.1:%2 ...\n") << 0;
        QTest::newRow("550: no fail-over") << 2 << QByteArray("PAGE 1\r\n") << QByteArray()
                                           << QByteArray("FAIL, Send process terminated\n") << 3;
    }
    void servers() {
        QFETCH(int, first);
        QFETCH(QByteArray, firstGot);
        QFETCH(QByteArray, secondGot);
        QFETCH(QByteArray, log);
        QFETCH(int, exitCode);
        const RefusedPort refused;
        ScriptedServer server1;
        ScriptedServer server2;
        QVERIFY(refused.isValid() && server1.listening() && server2.listening());
        server2.useSnppScript({});
        if (first == 1)
            busyAtThirdPage(server1);
        else
            server1.useSnppScript({"220 ready\r\n", "1", {}, {}});
        const quint16 firstPort = first == 0 ? refused.port() : server1.port();

        Run run({"-s", hostPort(firstPort), "-s", hostPort(server2.port()), "1", "2", "3", "4", "5",
                 "-m", "m"});
        QVERIFY(run.finish());
        QByteArray logLines;
        for (const QByteArray& line : run.out.split('\n')) {
            if (line.startsWith("log: ") && !line.startsWith("log: Sending to") &&
                !line.startsWith("log: MESSAGE SENT OK"))
                logLines += line.mid(5) + '\n';
        }
        QCOMPARE(logLines, log.replace("%2", QByteArray::number(server2.port())));
        QCOMPARE(run.program.exitCode(), exitCode);
        QVERIFY(run.out.endsWith(exitCode == 0
                                     ? "status: SUCCESS\n"
                                     : "status: FAIL\nstatusbar: 550 Invalid pager ID\n"));
        if (first != 0)
            QTRY_COMPARE(server1.received(0), firstGot);
        QCOMPARE(server2.connectionCount(), secondGot.isEmpty() ? 0 : 1);
        if (!secondGot.isEmpty())
            QTRY_COMPARE(server2.received(0), secondGot);
    }

    // Every server down: each tried once per attempt, three attempts about 1 s and 2 s apart;
    // or the one server comes up during the first wait and gets the page.
    void retries_data() {
        QTest::addColumn<bool>("comesUp");
        QTest::newRow("all down") << false;
        QTest::newRow("up during the wait") << true;
    }
    void retries() {
        QFETCH(bool, comesUp);
        std::optional<RefusedPort> down1(std::in_place);
        const RefusedPort down2;
        QVERIFY(down1->isValid() && down2.isValid());
        const quint16 port1 = down1->port();
        QStringList args{"-s", hostPort(port1)};
        if (!comesUp)
            args << "-s" << hostPort(down2.port());
        Run run(args + QStringList{"--retry", "2", "--retry-wait", "1", "77", "-m", "m"});
        std::unique_ptr<ScriptedServer> up;
        if (comesUp) {
            QVERIFY(run.waitFor([&] { return run.err.contains("waiting"); }));
            down1.reset();
            up = std::make_unique<ScriptedServer>(QHostAddress(QHostAddress::LocalHost), port1);
            QVERIFY(up->listening());
            up->useSnppScript({});
        }
        QVERIFY(run.finish());

        QList<double> waits;
        QList<qint64> starts;
        const QList<QByteArray> lines = run.err.split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i].startsWith("dazoroz-send: attempt"))
                starts << run.errTimes[i];
            else if (lines[i].startsWith("dazoroz-send: waiting"))
                waits << lines[i].split(' ')[2].toDouble();
        }
        if (comesUp) {
            QCOMPARE(run.program.exitCode(), 0);
            QCOMPARE(starts.size(), 2);
            QTRY_COMPARE(up->received(0), pages({"77"}) + "QUIT\r\n");
        } else {
            QCOMPARE(run.program.exitCode(), 1);
            QCOMPARE(starts.size(), 3);
            QCOMPARE(run.out.count("log: Trying 127.0.0.1:" + QByteArray::number(down2.port())), 3);
            // The status bar keeps the last error, shown once as it stays the same.
            QVERIFY(run.out.endsWith("status: FAIL\n"));
            QCOMPARE(run.out.count("statusbar: Error: [10061] Connection refused\n"), 1);
            QCOMPARE(waits.size(), 2);
            QVERIFY2(waits[1] >= 1.8 && waits[1] <= 2.2, run.err.constData());
        }
        QVERIFY2(waits[0] >= 0.9 && waits[0] <= 1.1, run.err.constData());
        // No sooner than the wait said, and not much later.
        for (qsizetype i = 1; i < starts.size(); ++i) {
            const qint64 gap = starts[i] - starts[i - 1];
            QVERIFY2(gap >= qint64(waits[i - 1] * 1000) - 50 &&
                         gap <= qint64(waits[i - 1] * 1000) + 1500,
                     qPrintable(QString::number(gap)));
        }
    }

    // SIGTERM during a wait ends the run at once; the page accepted before is not sent again.
    void signalDuringTheWait() {
        ScriptedServer server;
        QVERIFY(server.listening());
        busyAtThirdPage(server);
        Run run({"-s", hostPort(server.port()), "--retry", "3", "--retry-wait", "60", "1", "2", "3",
                 "-m", "m"});
        QVERIFY(run.waitFor([&] { return run.err.contains("waiting"); }));
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        QCOMPARE(::kill(static_cast<pid_t>(run.program.processId()), SIGTERM), 0);
        QVERIFY(run.finish());
        QVERIFY(sinceSignal.elapsed() < 5000);
        QCOMPARE(run.program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.program.exitCode(), 1);
        QVERIFY2(run.err.endsWith("dazoroz-send: cancelled while waiting to try again\n"),
                 run.err.constData());
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(server.received(0), pages({"1", "2"}) + "PAGE 3\r\n");
    }
};

QTEST_GUILESS_MAIN(TestSendFailover)
#include "test_send_failover.moc"
