// The program as a process: a name added in the window is in names.txt at once, whatever ends
// the program after it; without a display it says so in one line.

#include "ui_test_support.h"

#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace dazoroz::ui::testing;

class TestNamesKept : public QObject {
    Q_OBJECT
private slots:
    void addedNameSurvives_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("kill -TERM") << SIGTERM;
        QTest::newRow("kill -HUP (the session ends)") << SIGHUP;
        QTest::newRow("kill -9") << SIGKILL;
    }
    void addedNameSurvives() {
        QFETCH(int, signalNumber);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("names.txt")), "Ann, 1\r\n");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("WINDIR"), dir.path());
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.start(QStringLiteral(NAMES_KEPT_PROGRAM), {});
        QVERIFY(program.waitForStarted());
        QByteArray out; // the program says when it has added the name
        while (!out.contains("added\n") && program.waitForReadyRead(30000))
            out += program.readAllStandardOutput();
        QVERIFY2(out.contains("added\n"), program.readAllStandardError().constData());
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("names.txt"))),
                 QByteArray("Ann, 1\r\nZed, 99\r\n"));
        if (signalNumber != SIGKILL) { // it closed as by Exit, and says why it ended
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 128 + signalNumber);
        }
    }

    void noDisplay() {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(DAZOROZ_PROGRAM), {});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(program.readAllStandardError(),
                 QByteArray("dazoroz: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; "
                            "start it in a desktop session\n"));
    }
};

QTEST_GUILESS_MAIN(TestNamesKept)
#include "test_names_kept.moc"
