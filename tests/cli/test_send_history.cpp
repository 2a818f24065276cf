// The history as dazoroz-send keeps it, run as a process against a scripted server: each outcome
// in its row and the password nowhere in the files, a database it cannot use that never stops
// the page, kill -9 in the middle of a send, and the window's send logic writing at the same
// time as dazoroz-send.

#include "net/vlm_ipport.h"
#include "sending/history_record.h"
#include "sending/port_connection.h"
#include "store/history.h"
#include "support/scripted_server.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace dazoroz;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kWaitMs = 60'000;
const QByteArray kPassword = "pw-7Hq2x";

// 220, then 250 to every command; 550 to PAGE 666; silence to PAGE 777 and PAGE 5550010.
void playPager(ScriptedServer& server) {
    server.setGreeting(Reply::send("220 ready\r\n"));
    server.setResponder([](const QByteArray& line, int) {
        if (line == "QUIT")
            return Reply::close("221 bye\r\n");
        if (line == "PAGE 666")
            return Reply::send("550 Invalid pager ID\r\n");
        if (line == "PAGE 777" || line == "PAGE 5550010")
            return Reply::silence();
        return Reply::send("250 OK\r\n");
    });
}

// dazoroz-send in `dir` (its settings file and working directory), its history in dir/state.
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

std::string historyFile(const QTemporaryDir& dir) {
    return QFile::encodeName(dir.filePath(QStringLiteral("state/dazoroz/history.sqlite")))
        .toStdString();
}

std::vector<store::PageRow> rowsOf(const std::string& file) {
    store::History history(file, store::History::Mode::existing);
    std::vector<store::PageRow> rows;
    const std::vector<std::int64_t> ids = history.ids({});
    for (auto id = ids.rbegin(); id != ids.rend(); ++id)
        rows.push_back(*history.row(*id));
    return rows;
}

std::string bytesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
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

class TestSendHistory : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("outcome"); // empty: no history kept
        QTest::addColumn<QString>("reply");
        QTest::newRow("accepted, history from the settings")
            << QStringList{"5551234"} << QByteArray("keepHistory=1\r\n") << "accepted"
            << "250 OK";
        QTest::newRow("refused with 550")
            << QStringList{"--history", "666"} << QByteArray() << "refused"
            << "550 Invalid pager ID";
        QTest::newRow("timed out")
            << QStringList{"--history", "--timeout", "1", "777"} << QByteArray() << "failed"
            << "Timed out after 1 second";
        QTest::newRow("cancelled by SIGINT")
            << QStringList{"--history", "777"} << QByteArray() << "cancelled"
            << "";
        QTest::newRow("--no-history over the settings")
            << QStringList{"--no-history", "5551234"} << QByteArray("keepHistory=1\r\n") << ""
            << "";
    }

    void outcomes() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, ini);
        QFETCH(QString, outcome);
        QFETCH(QString, reply);
        ScriptedServer server;
        playPager(server);
        QTemporaryDir dir;
        Sender send(dir, server.port(), args + QStringList{"-m", "Call the office"}, ini);
        if (outcome == "cancelled") {
            QTRY_VERIFY_WITH_TIMEOUT(server.received(0).contains("PAGE 777\r\n"), kWaitMs);
            QCOMPARE(::kill(static_cast<pid_t>(send.process.processId()), SIGINT), 0);
        }
        QVERIFY(send.finished());
        QVERIFY(!send.process.readAllStandardError().contains("history"));
        QVERIFY(server.received(0).startsWith("LOGI ops " + kPassword + "\r\nPAGE "));
        const std::string file = historyFile(dir);
        QCOMPARE(std::filesystem::exists(file), !outcome.isEmpty());
        if (outcome.isEmpty())
            return;
        const std::vector<store::PageRow> rows = rowsOf(file);
        QCOMPARE(rows.size(), std::size_t{1});
        QCOMPARE(store::outcomeName(rows[0].outcome), outcome.toStdString());
        QCOMPARE(rows[0].reply, reply.toStdString());
        QCOMPARE(rows[0].program + " " + rows[0].pagerID + " " + rows[0].loginID + " " +
                     rows[0].message,
                 "cli " + args.last().toStdString() + " ops Call the office");
        // Nowhere in the history's files, its log included.
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(file).parent_path()))
            QVERIFY2(bytesOf(entry.path()).find(kPassword.toStdString()) == std::string::npos,
                     entry.path().c_str());
    }

    void unusableHistory_data() {
        QTest::addColumn<bool>("corrupt"); // else a read-only folder
        QTest::addColumn<QString>("error");
        QTest::newRow("corrupt file")
            << true << "%1 is not a history database (it is left as it is)";
        QTest::newRow("read-only folder") << false << "cannot make %1: Permission denied";
    }

    void unusableHistory() {
        QFETCH(bool, corrupt);
        QFETCH(QString, error);
        ScriptedServer server;
        playPager(server);
        QTemporaryDir dir;
        const std::string file = historyFile(dir);
        const auto folder = std::filesystem::path(file).parent_path();
        QVERIFY(std::filesystem::create_directories(folder));
        const std::string garbage(8192, '\x5a');
        if (corrupt)
            std::ofstream(file, std::ios::binary) << garbage;
        // Permissions do not stop root: the program runs as nobody then.
        const bool asNobody = ::geteuid() == 0 && !corrupt;
        QVERIFY(::chmod(folder.c_str(), corrupt ? 0700 : 0500) == 0);
        if (asNobody)
            QVERIFY(::chmod(dir.path().toLocal8Bit(), 0755) == 0 &&
                    ::chmod(folder.parent_path().c_str(), 0755) == 0 &&
                    ::chown(folder.c_str(), 65534, 65534) == 0);
        Sender send(dir, server.port(), {"--history", "5551234", "-m", "hi"}, {}, asNobody);
        QVERIFY(send.finished());
        QCOMPARE(send.process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(send.process.readAllStandardError()),
                 "dazoroz-send: the history could not be written: " +
                     error.arg(QString::fromStdString(file)) + "\n");
        QVERIFY(server.received(0).endsWith("PAGE 5551234\r\nMESS hi\r\nSEND\r\nQUIT\r\n"));
        QCOMPARE(bytesOf(file), corrupt ? garbage : std::string());
        QCOMPARE(std::filesystem::exists(file + "-wal"), false);
    }

    void killedInTheMiddle() {
        ScriptedServer server;
        playPager(server);
        QTemporaryDir dir;
        QStringList ids;
        for (int i = 0; i < 100; ++i)
            ids << QString::number(5550000 + i);
        Sender send(dir, server.port(), QStringList{"--history", "-m", "m"} + ids);
        // The eleventh page is never answered.
        QTRY_VERIFY_WITH_TIMEOUT(server.received(0).contains("PAGE 5550010\r\n"), kWaitMs);
        QCOMPARE(::kill(static_cast<pid_t>(send.process.processId()), SIGKILL), 0);
        QVERIFY(send.finished());
        const std::vector<store::PageRow> rows = rowsOf(historyFile(dir));
        QCOMPARE(rows.size(), std::size_t{11});
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QCOMPARE(rows[i].pagerID, std::to_string(5550000 + i));
            QCOMPARE(rows[i].outcome, i < 10 ? store::Outcome::accepted : store::Outcome::unknown);
        }
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
            window.names.push_back("Name " + std::to_string(i) + ", " +
                                   std::to_string(7000000 + i));
        }
        // The window's send logic, here; dazoroz-send, there.
        store::Settings settings{"127.0.0.1", {}, server.port(), 0, {}, {}, {}, false, {}, true};
        net::TvlmIPPort port;
        sending::PortConnection connection(port);
        sending::SendLogic logic(connection, window, settings);
        QStringList troubles;
        sending::HistoryRecord record("window", historyFile(dir), [&](const std::string& e) {
            troubles << QString::fromStdString(e);
        });
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
        QCOMPARE(troubles, QStringList());

        std::map<std::string, int> accepted;
        for (const store::PageRow& row : rowsOf(historyFile(dir)))
            accepted[row.program + " " + store::outcomeName(row.outcome)]++;
        QCOMPARE(accepted, (std::map<std::string, int>{{"cli accepted", kPages},
                                                       {"window accepted", kPages}}));
    }
};

QTEST_GUILESS_MAIN(TestSendHistory)
#include "test_send_history.moc"
