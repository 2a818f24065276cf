// dazoroz-send's retries, run as a process against loopback ports: when it tries again, what
// it says on standard error, what reaches the server, and its exit status.

#include "support/refused_port.h"
#include "support/scripted_server.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <signal.h>

using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

enum During : int { nothing, serverComesUp, sigterm }; // what happens during the first wait

QString at(quint16 port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class TestSendFailover : public QObject {
    Q_OBJECT

private slots:
    // Both servers down: each tried once per attempt, three attempts about 1 s and 2 s apart.
    // The server comes up during the wait: the next attempt delivers. SIGTERM during the wait
    // ends the run at once, and the page the server accepted before its 421 is not sent again.
    void retries_data() {
        QTest::addColumn<int>("during");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QByteArray>("received"); // by the server that is up, if any
        QTest::newRow("all down") << int{nothing} << 1 << 3 << QByteArray();
        QTest::newRow("up during the wait") << int{serverComesUp} << 0 << 2
                                            << QByteArray("PAGE 1\r\nMESS m\r\nSEND\r\nPAGE 2\r\n"
                                                          "MESS m\r\nSEND\r\nQUIT\r\n");
        QTest::newRow("SIGTERM during the wait")
            << int{sigterm} << 1 << 1 << QByteArray("PAGE 1\r\nMESS m\r\nSEND\r\nPAGE 2\r\n");
    }
    void retries() {
        QFETCH(int, during);
        QFETCH(int, exitCode);
        QFETCH(int, attempts);
        QFETCH(QByteArray, received);
        std::optional<RefusedPort> down(std::in_place);
        const RefusedPort down2;
        QVERIFY(down->isValid() && down2.isValid());
        const quint16 port = down->port();
        std::unique_ptr<ScriptedServer> up;
        const auto bringUp = [&](const dazoroz::testsupport::SnppScript& script) {
            down.reset();
            up = std::make_unique<ScriptedServer>(QHostAddress(QHostAddress::LocalHost), port);
            up->useSnppScript(script);
        };
        if (during == sigterm) // it takes one page, then answers 421
            bringUp({"220 ready\r\n", {}, "PAGE 2", Reply::close("421 Busy\r\n")});
        QStringList args{
            "-s", at(port), "--retry", "2", "--retry-wait", during == sigterm ? "60" : "1",
            "1",  "2",      "-m",      "m"};
        if (during == nothing)
            args << "-s" << at(down2.port());

        QTemporaryDir windir;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINDIR"), windir.path());
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(windir.path());
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(SEND_PROGRAM), args);
        QByteArray err;
        QList<qint64> attemptTimes;
        QList<double> waits; // as the program says them
        const auto poll = [&] {
            for (const QByteArray& line : program.readAllStandardError().split('\n')) {
                if (line.startsWith("dazoroz-send: attempt"))
                    attemptTimes << clock.elapsed();
                else if (line.startsWith("dazoroz-send: waiting"))
                    waits << line.split(' ')[2].toDouble();
                err += line.isEmpty() ? "" : line + '\n';
            }
            return program.state() == QProcess::NotRunning;
        };
        QVERIFY(QTest::qWaitFor([&] { return poll() || !waits.isEmpty(); }, 20'000));
        if (during == serverComesUp) {
            bringUp({});
        } else if (during == sigterm) {
            clock.restart();
            QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
        }
        QVERIFY(QTest::qWaitFor(poll, 20'000));
        const QByteArray out = program.readAllStandardOutput();

        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        QCOMPARE(attemptTimes.size(), attempts);
        QCOMPARE(waits.size(), during == nothing ? 2 : 1);
        // 1 s, then 2 s (60 s), give or take 10 %, printed to a tenth.
        for (qsizetype i = 0; i < waits.size(); ++i) {
            const double wanted = during == sigterm ? 60 : 1 << i;
            QVERIFY2(qAbs(waits[i] - wanted) <= wanted * 0.1 + 0.051, err.constData());
        }
        // Each attempt no sooner than its wait said, and not much later.
        for (qsizetype i = 1; i < attemptTimes.size(); ++i) {
            const qint64 gap = attemptTimes[i] - attemptTimes[i - 1];
            const auto wait = static_cast<qint64>(waits[i - 1] * 1000);
            QVERIFY2(gap >= wait - 100 && gap <= wait + 1500, qPrintable(QString::number(gap)));
        }
        if (during == nothing) {
            QCOMPARE(out.count("log: Trying " + at(down2.port()).toUtf8() + " ...\n"), 3);
            QVERIFY(out.endsWith("status: FAIL\n"));
        } else if (during == sigterm) {
            QVERIFY(clock.elapsed() < 5000);
            QVERIFY2(err.endsWith("dazoroz-send: cancelled while waiting to try again\n"),
                     err.constData());
        }
        QCOMPARE(up ? up->connectionCount() : 0, received.isEmpty() ? 0 : 1);
        if (up)
            QTRY_COMPARE(up->received(0), received);
    }
};

QTEST_GUILESS_MAIN(TestSendFailover)
#include "test_send_failover.moc"
