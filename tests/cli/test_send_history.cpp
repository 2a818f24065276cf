// dazoroz-send's history against a scripted server: each outcome and no password in the files, a
// history it cannot use, kill -9 mid-send, and the window's send logic writing at the same time.

#include "net/vlm_ipport.h"
#include "sending/history_record.h"
#include "sending/port_connection.h"
#include "store/history.h"
#include "support/scripted_server.h"
#include "support/test_loop.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

using namespace dazoroz;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kWaitMs = 60'000;
const QByteArray kPassword = "pw-7Hq2x";

// 220, then 250 to every command; 550 to PAGE 666; silence to PAGE 777.
void playPager(ScriptedServer& server) {
    server.setGreeting(Reply::send("220 ready\r\n"));
    server.setResponder([](const QByteArray& line, int) {
        if (line == "QUIT")
            return Reply::close("221 bye\r\n");
        if (line == "PAGE 777")
            return Reply::silence();
        return Reply::send(line == "PAGE 666" ? "550 Invalid pager ID\r\n" : "250 OK\r\n");
    });
}

// dazoroz-send, logged in with a password, its settings and working directory in `dir` and its
// history in dir/state; run as nobody when told.
struct Sender {
    Sender(const QTemporaryDir& dir, quint16 port, const QStringList& args,
           const QByteArray& ini = {}, bool asNobody = false) {
        QFile settings(dir.filePath(QStringLiteral("dazoroz.ini")));
        if (!settings.open(QIODevice::WriteOnly) ||
            settings.write("[General]\r\nserverIP=127.0.0.1\r\nserverPort=" +
                           QByteArray::number(port) + "\r\n" + ini) < 0)
            qFatal("cannot write the settings");
        settings.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINDIR"), dir.path());
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("DAZOROZ_PASSWORD"), QString::fromLatin1(kPassword));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        if (asNobody)
            process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(99);
            });
        process.start(QStringLiteral(SEND_PROGRAM), QStringList{"--login", "ops"} + args);
    }
    bool finished() {
        return QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, kWaitMs);
    }
    QProcess process;
};

QString historyFile(const QTemporaryDir& dir) {
    return dir.filePath(QStringLiteral("state/dazoroz/history.sqlite"));
}

QByteArray bytesOf(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every row, oldest first, as "program pagerID outcome reply".
QStringList rowsOf(const QString& file) {
    store::History history(file.toStdString(), store::History::Mode::existing);
    QStringList rows;
    for (const std::int64_t id : history.ids({})) {
        const store::PageRow row = *history.row(id);
        rows.prepend(QString::fromStdString(row.program + " " + row.pagerID + " " +
                                            store::outcomeName(row.outcome) + " " + row.reply));
    }
    return rows;
}

// The window's controls as the send logic reads them: every name of the list checked.
class CheckedNames : public sending::SendWindow {
public:
    std::vector<std::string> names;
    std::string word;
    void setStatusWord(const std::string& w) override { word = w; }
    void clearLog() override {}
    void appendLog(const std::string&) override {}
    void setStatusBarText(const std::string&) override {}
    void setBanner(const std::string&) override {}
    std::string pagerNumber() const override { return {}; }
    std::string messageText() const override { return "from the window"; }
    int nameCount() const override { return static_cast<int>(names.size()); }
    std::string nameText(int row) const override { return names[static_cast<std::size_t>(row)]; }
    bool nameChecked(int) const override { return true; }
};

} // namespace

// One send: dazoroz-send's arguments, the history's place, the rows it leaves and its errors.
struct Send {
    QStringList args;
    QByteArray ini{};
    QString place{};    // "corrupt" file, "read-only" folder, or fine
    QStringList rows{}; // "program pagerID outcome reply", oldest first; none: no history written
    QString err{};      // %1: the history's file, %2: the server's port
    int signal = 0;     // sent once the server has PAGE 777
};
Q_DECLARE_METATYPE(Send)

class TestSendHistory : public QObject {
    Q_OBJECT

private slots:
    void sends_data() {
        QTest::addColumn<Send>("send");
        const QString timedOut = "dazoroz-send: the send to 127.0.0.1, port %2, timed out after 1 "
                                 "second\n";
        const QString unwritten = "dazoroz-send: the history could not be written: ";
        QTest::newRow("accepted, history from the settings")
            << Send{{"5551234"}, "keepHistory=1\r\n", "", {"cli 5551234 accepted 250 OK"}};
        QTest::newRow("refused with 550")
            << Send{{"--history", "666"}, "", "", {"cli 666 refused 550 Invalid pager ID"}};
        const QStringList wait{"--history", "-t", "1", "777"};
        QTest::newRow("timed out")
            << Send{wait, "", "", {"cli 777 failed Timed out after 1 second"}, timedOut};
        QTest::newRow("cancelled by SIGINT")
            << Send{{"--history", "777"}, "", "", {"cli 777 cancelled "}, "", SIGINT};
        QTest::newRow("--no-history over the settings")
            << Send{{"--no-history", "5551234"}, "keepHistory=1\r\n"};
        const QStringList page{"--history", "5551234"};
        const QString notHistory = "%1 is not a history database (it is left as it is)\n";
        QTest::newRow("corrupt file") << Send{page, "", "corrupt", {}, unwritten + notHistory};
        QTest::newRow("read-only folder")
            << Send{page, "", "read-only", {}, unwritten + "cannot make %1: Permission denied\n"};
        // The eleventh of 100 pages is never answered: the rows before it stay, it is unknown.
        QStringList ids{"--history"}, rows;
        for (int i = 0; i < 100; ++i) {
            ids << (i == 10 ? QStringLiteral("777") : QString::number(5550000 + i));
            if (i < 10)
                rows << "cli " + ids.last() + " accepted 250 OK";
        }
        QTest::newRow("kill -9 in the middle")
            << Send{ids, "", "", rows << "cli 777 unknown ", "", SIGKILL};
    }

    void sends() {
        QFETCH(Send, send);
        ScriptedServer server;
        playPager(server);
        QTemporaryDir dir;
        const QString file = historyFile(dir);
        const QByteArray garbage(8192, 'Z');
        const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
        // Permissions do not stop root: the program runs as nobody then.
        const bool asNobody = send.place == "read-only" && ::geteuid() == 0;
        if (!send.place.isEmpty()) {
            QVERIFY(QDir().mkpath(QString::fromLocal8Bit(folder)));
            QVERIFY(::chmod(folder, send.place == "corrupt" ? 0700 : 0500) == 0);
            if (send.place == "corrupt") {
                QFile f(file);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(garbage) == garbage.size());
            }
            if (asNobody)
                QVERIFY(::chmod(QFile::encodeName(dir.path()), 0755) == 0 &&
                        ::chown(folder, 65534, 65534) == 0);
        }
        Sender program(dir, server.port(), send.args + QStringList{"-m", "Call the office"},
                       send.ini, asNobody);
        if (send.signal != 0) {
            QTRY_VERIFY_WITH_TIMEOUT(server.received(0).contains("PAGE 777\r\n"), kWaitMs);
            QCOMPARE(::kill(static_cast<pid_t>(program.process.processId()), send.signal), 0);
        }
        QVERIFY(program.finished());
        QCOMPARE(QString::fromUtf8(program.process.readAllStandardError()),
                 send.err.replace("%1", file).replace("%2", QString::number(server.port())));
        QVERIFY(server.received(0).startsWith("LOGI ops " + kPassword + "\r\nPAGE "));
        if (send.rows.isEmpty()) { // no history, or the file as it was
            QCOMPARE(bytesOf(file), send.place == "corrupt" ? garbage : QByteArray());
            QVERIFY(!QFile::exists(file + "-wal"));
            return;
        }
        QCOMPARE(rowsOf(file), send.rows);
        // Nowhere in the history's files, its log included.
        for (const QFileInfo& f : QDir(QFileInfo(file).path()).entryInfoList(QDir::Files))
            QVERIFY2(!bytesOf(f.filePath()).contains(kPassword), qPrintable(f.fileName()));
    }

    void windowAndProgramAtOnce() {
        ScriptedServer server;
        playPager(server);
        QTemporaryDir dir;
        constexpr int kPages = 500;
        QStringList ids;
        CheckedNames window;
        for (int i = 0; i < kPages; ++i) {
            ids << QString::number(6000000 + i);
            window.names.push_back("N" + std::to_string(i) + ", " + std::to_string(7000000 + i));
        }
        // The window's send logic, here; dazoroz-send, there.
        store::Settings settings{"127.0.0.1", {}, server.port(), 0, {}, {}, {}, false, {}, true};
        net::TvlmIPPort port;
        sending::PortConnection connection(port);
        sending::SendLogic logic(connection, window, settings);
        sending::HistoryRecord record("window", historyFile(dir).toStdString(),
                                      [](const std::string& e) { QFAIL(e.c_str()); });
        logic.setRecord(&record);
        port.OnConnected = [&](net::TvlmIPPort&, int code, const std::string& text) {
            logic.clientSocketConnected(code, text);
        };
        port.OnDataIn = [&](net::TvlmIPPort&, const std::string& text, bool eol) {
            logic.clientSocketDataIn(text, eol);
        };
        port.OnDisconnected = [&](net::TvlmIPPort&, int code, const std::string& text) {
            logic.clientSocketDisconnected(code, text);
        };
        Sender send(dir, server.port(), QStringList{"--history", "-m", "from the program"} + ids);
        logic.reset();
        logic.sendButtonClick();
        QVERIFY(send.finished());
        QTRY_VERIFY_WITH_TIMEOUT(logic.sendState() == sending::ssIdle, kWaitMs);
        QCOMPARE(send.process.exitCode(), 0);
        QCOMPARE(window.word, std::string("SUCCESS"));
        std::map<QString, int> counts;
        for (const QString& row : rowsOf(historyFile(dir)))
            counts[row.section(' ', 0, 0) + " " + row.section(' ', 2, 2)]++;
        QCOMPARE(counts,
                 (std::map<QString, int>{{"cli accepted", kPages}, {"window accepted", kPages}}));
    }
};

DAZOROZ_LOOP_TEST_MAIN(TestSendHistory)
#include "test_send_history.moc"
