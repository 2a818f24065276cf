// dazoroz-send run as a process against a scripted SNPP server in this test's event loop: what
// reaches the server, what the program prints, and its exit status.

#include "support/scripted_server.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <signal.h>

using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;

namespace {

constexpr int kWaitMs = 20'000;

const QByteArray kNames = "Bob, 22-22\r\nAnn, 1234\r\nCy, (0)55-5\r\n";

// How the scripted server plays the paging dialogue; the empty texts mean "never".
struct Script {
    QByteArray greeting = "220 SNPP server ready\r\n";
    QByteArray failingPager; // 550 to its PAGE
    QByteArray silentOn;     // no reply to a command starting with this
    QByteArray closeOn;      // a close instead of the reply
    QByteArray resetOn;      // a reset instead of the reply
    QByteArray refuseOn;     // 421 and a close instead of the reply
};

} // namespace

Q_DECLARE_METATYPE(Script)

namespace {

Reply play(const Script& s, const QByteArray& line) {
    const auto on = [&line](const QByteArray& prefix) {
        return !prefix.isEmpty() && line.startsWith(prefix);
    };
    if (on(s.silentOn)) {
        return Reply::silence();
    }
    if (on(s.closeOn)) {
        return Reply::close();
    }
    if (on(s.resetOn)) {
        return Reply::reset();
    }
    if (on(s.refuseOn)) {
        return Reply::close("421 Too busy, try later\r\n");
    }
    if (line.startsWith("PAGE ")) {
        return !s.failingPager.isEmpty() && line.mid(5) == s.failingPager
                   ? Reply::send("550 Invalid pager ID\r\n")
                   : Reply::send("250 Pager ID accepted\r\n");
    }
    if (line.startsWith("MESS ")) {
        return Reply::send("250 Message OK\r\n");
    }
    if (line == "SEND") {
        return Reply::send("250 Message sent successfully\r\n");
    }
    if (line == "QUIT") {
        return Reply::close("221 OK, goodbye\r\n");
    }
    return Reply::send("500 Command not implemented\r\n");
}

QByteArray pages(const QList<QByteArray>& ids, const QByteArray& message) {
    QByteArray bytes;
    for (const QByteArray& id : ids) {
        bytes += "PAGE " + id + "\r\nMESS " + message + "\r\nSEND\r\n";
    }
    return bytes;
}

QByteArray lines(const QList<QByteArray>& list) {
    QByteArray bytes;
    for (const QByteArray& line : list) {
        bytes += line + '\n';
    }
    return bytes;
}

struct Outcome {
    bool ended = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// One run of the program: its settings directory (WINDIR) and working directory are fresh
// temporary directories.
class SendRun {
public:
    SendRun() {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                         [this] { out_ += process_.readAllStandardOutput(); });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINDIR"), windir_.path());
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(workdir_.path());
    }
    ~SendRun() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kWaitMs);
        }
    }
    SendRun(const SendRun&) = delete;
    SendRun& operator=(const SendRun&) = delete;

    QString windir() const { return windir_.path(); }

    void writeIni(const QByteArray& general) {
        write(windir_.filePath(QStringLiteral("dazoroz.ini")), "[General]\r\n" + general);
    }
    void writeNames(const QByteArray& bytes) {
        write(workdir_.filePath(QStringLiteral("names.txt")), bytes);
    }

    // Starts the program; with input, it is written to standard input, which is then closed.
    void start(const QStringList& arguments, const std::optional<QByteArray>& input = {}) {
        process_.start(QStringLiteral(SEND_PROGRAM), arguments);
        QVERIFY(process_.waitForStarted(kWaitMs));
        if (input) {
            process_.write(*input);
            process_.closeWriteChannel();
        }
    }

    // Waits (running the event loop, so that the server answers) until the program ends.
    Outcome finish() {
        Outcome o;
        o.ended =
            QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; }, kWaitMs);
        out_ += process_.readAllStandardOutput();
        o.out = out_;
        o.err = process_.readAllStandardError();
        o.exitCode = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        return o;
    }

    Outcome run(const QStringList& arguments, const std::optional<QByteArray>& input = {}) {
        start(arguments, input);
        return finish();
    }

    [[nodiscard]] bool waitForOutput(const QByteArray& line) {
        return QTest::qWaitFor([&] { return out_.contains(line); }, kWaitMs);
    }

    qint64 pid() const { return process_.processId(); }

private:
    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    QTemporaryDir windir_;
    QTemporaryDir workdir_;
    QProcess process_;
    QByteArray out_;
};

QByteArray serverIni(quint16 port, const QByteArray& more = {}) {
    return "serverIP=127.0.0.1\r\nserverPort=" + QByteArray::number(port) + "\r\n" + more;
}

} // namespace

class TestSendProgram : public QObject {
    Q_OBJECT

private slots:
    void deliversPages_data();
    void deliversPages();
    void failedSends_data();
    void failedSends();
    void connectRefused();
    void portRefuses_data();
    void portRefuses();
    void optionsOverrideSettings();
    void cancelledBySignal_data();
    void cancelledBySignal();
    void messageFromInput_data();
    void messageFromInput();
    void badUsage_data();
    void badUsage();
    void helpAndVersion();
};

void TestSendProgram::deliversPages_data() {
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("out");

    const QByteArray m = "Call home";
    const QByteArray start = "status: CONNECTING...\nstatus: CONNECTED...\n";
    const QByteArray plain = "220 SNPP server ready\r\n";

    // Names in the order given, not in list order; each name in any letter case.
    QTest::newRow("two names") << plain << QStringList{"bob", "ANN"}
                               << pages({"2222", "1234"}, m) + "QUIT\r\n"
                               << start + lines({"log: Sending to: Bob, 22-22 ...",
                                                 "log: MESSAGE SENT OK",
                                                 "log: Sending to: Ann, 1234 ...",
                                                 "log: MESSAGE SENT OK", "status: SUCCESS"});
    // Single-recipient mode: the ID as typed, nothing logged.
    QTest::newRow("one typed ID") << plain << QStringList{"0555123"}
                                  << pages({"0555123"}, m) + "QUIT\r\n"
                                  << start + "status: SUCCESS\n";
    // One name is one checked entry: the multi-recipient log.
    QTest::newRow("one name") << plain << QStringList{"Cy"} << pages({"0555"}, m) + "QUIT\r\n"
                              << start + lines({"log: Sending to: Cy, (0)55-5 ...",
                                                "log: MESSAGE SENT OK", "status: SUCCESS"});
    QTest::newRow("IDs and a name")
        << plain << QStringList{"5551234", "cy", "77"}
        << pages({"5551234", "0555", "77"}, m) + "QUIT\r\n"
        << start +
               lines({"log: Sending to: Pager, 5551234 ...", "log: MESSAGE SENT OK",
                      "log: Sending to: Cy, (0)55-5 ...", "log: MESSAGE SENT OK",
                      "log: Sending to: Pager, 77 ...", "log: MESSAGE SENT OK", "status: SUCCESS"});
    QTest::newRow("banner") << QByteArray("220 \x02Hello there\r\n") << QStringList{"77"}
                            << pages({"77"}, m) + "QUIT\r\n"
                            << start + "banner: Hello there\nstatus: SUCCESS\n";
}

void TestSendProgram::deliversPages() {
    QFETCH(QByteArray, greeting);
    QFETCH(QStringList, recipients);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, out);

    ScriptedServer server;
    QVERIFY(server.listening());
    Script script;
    script.greeting = greeting;
    server.setGreeting(Reply::send(greeting));
    server.setResponder([script](const QByteArray& line, int) { return play(script, line); });

    SendRun send;
    send.writeIni(serverIni(server.port()));
    send.writeNames(kNames);
    const Outcome o = send.run(recipients + QStringList{"-m", "Call home"});

    QVERIFY(o.ended);
    QCOMPARE(o.out, out);
    QCOMPARE(o.err, QByteArray());
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(server.received(0), received);
}

void TestSendProgram::failedSends_data() {
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QByteArray m = "Call home";
    const QByteArray start = "status: CONNECTING...\nstatus: CONNECTED...\n";
    const QStringList names{"bob", "ann", "cy"};
    Script s;

    s = {};
    s.failingPager = "1234";
    QTest::newRow("550 to the second recipient")
        << s << pages({"2222"}, m) + "PAGE 1234\r\n"
        << start + lines({"log: Sending to: Bob, 22-22 ...", "log: MESSAGE SENT OK",
                          "log: Sending to: Ann, 1234 ...", "log: FAIL, Send process terminated",
                          "status: FAIL", "statusbar: 550 Invalid pager ID"})
        << QByteArray();
    s = {};
    s.refuseOn = "MESS";
    QTest::newRow("421 to the message")
        << s << QByteArray("PAGE 2222\r\nMESS Call home\r\n")
        << start + lines({"log: Sending to: Bob, 22-22 ...", "log: FAIL, Send process terminated",
                          "status: FAIL", "statusbar: 421 Too busy, try later"})
        << QByteArray();
    s = {};
    s.greeting = {};
    QTest::newRow("silent server, time-out") << s << QByteArray() << start + "status: FAIL\n"
                                             << QByteArray();
    // SUCCESS shows before the server's 221; without it the time-out turns it into FAIL.
    s = {};
    s.silentOn = "QUIT";
    QTest::newRow("no reply to QUIT, time-out")
        << s << pages({"2222", "1234", "0555"}, m) + "QUIT\r\n"
        << start + lines({"log: Sending to: Bob, 22-22 ...", "log: MESSAGE SENT OK",
                          "log: Sending to: Ann, 1234 ...", "log: MESSAGE SENT OK",
                          "log: Sending to: Cy, (0)55-5 ...", "log: MESSAGE SENT OK",
                          "status: SUCCESS", "status: FAIL"})
        << QByteArray();
    s = {};
    s.closeOn = "SEND";
    QTest::newRow("server closes in mid-send")
        << s << pages({"2222"}, m) << start + lines({"log: Sending to: Bob, 22-22 ..."})
        << QByteArray("dazoroz-send: the connection was closed before the page went out\n");
    s = {};
    s.resetOn = "PAGE 1234";
    QTest::newRow("server resets the connection")
        << s << pages({"2222"}, m) + "PAGE 1234\r\n"
        << start + lines({"log: Sending to: Bob, 22-22 ...", "log: MESSAGE SENT OK",
                          "log: Sending to: Ann, 1234 ...", "status: FAIL",
                          "statusbar: Error: Winsock error in recv()"})
        << QByteArray();
}

void TestSendProgram::failedSends() {
    QFETCH(Script, script);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    ScriptedServer server;
    QVERIFY(server.listening());
    server.setGreeting(Reply::send(script.greeting));
    server.setResponder([script](const QByteArray& line, int) { return play(script, line); });

    SendRun send;
    send.writeIni(serverIni(server.port(), "timeout=1\r\n"));
    send.writeNames(kNames);
    const Outcome o = send.run({"bob", "ann", "cy", "-m", "Call home"});

    QVERIFY(o.ended);
    QCOMPARE(o.out, out);
    QCOMPARE(o.err, err);
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(server.received(0), received);
}

void TestSendProgram::connectRefused() {
    SendRun send;
    send.writeIni(serverIni(ScriptedServer::refusedPort()));
    const Outcome o = send.run({"77", "-m", "Call home"});

    QVERIFY(o.ended);
    QCOMPARE(o.out, QByteArray("status: CONNECTING...\nstatus: FAIL\n"
                               "statusbar: Error: [10061] Connection refused\n"));
    QCOMPARE(o.err, QByteArray());
    QCOMPARE(o.exitCode, 1);
}

void TestSendProgram::portRefuses_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("err"); // a pattern

    QTest::newRow("host name not found")
        << QStringList{"--server", "nohost.invalid"} << QByteArray("timeout=60\r\n")
        << QStringLiteral(R"(^dazoroz-send: (1100\d): \[\1\] [^\n]*[^.\n]\.\n$)");
    // The port number is cut to 16 bits, as the window does: 65536 becomes 0.
    QTest::newRow("port 65536 in dazoroz.ini")
        << QStringList{} << QByteArray("serverPort=65536\r\ntimeout=60\r\n")
        << QStringLiteral(R"(^dazoroz-send: 116: RemotePort can't be zero\. [^\n]*\.\n$)");
}

void TestSendProgram::portRefuses() {
    // The port refuses what Send hands it at once; the window would show the error and wait
    // for the time-out, the command reports it and fails the send.
    QFETCH(QStringList, options);
    QFETCH(QByteArray, ini);
    QFETCH(QString, err);

    SendRun send;
    send.writeIni(ini);
    const Outcome o = send.run(QStringList{"77", "-m", "Call home"} + options);

    QVERIFY(o.ended);
    QCOMPARE(o.out, QByteArray("status: CONNECTING...\nstatus: FAIL\n"));
    QVERIFY2(QRegularExpression(err).match(QString::fromUtf8(o.err)).hasMatch(), o.err.constData());
    QCOMPARE(o.exitCode, 1);
}

void TestSendProgram::optionsOverrideSettings() {
    ScriptedServer server;
    QVERIFY(server.listening());
    server.setGreeting(Reply::send(Script{}.greeting));
    server.setResponder([](const QByteArray& line, int) { return play(Script{}, line); });

    SendRun send;
    send.writeIni("serverIP=nohost.invalid\r\nserverPort=1\r\ntimeout=1\r\n");
    const Outcome o = send.run({"-s", "127.0.0.1", QStringLiteral("--port=%1").arg(server.port()),
                                "-t60", "77", "--message", "Call home"});

    QVERIFY(o.ended);
    QCOMPARE(o.out, QByteArray("status: CONNECTING...\nstatus: CONNECTED...\nstatus: SUCCESS\n"));
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(server.received(0), pages({"77"}, "Call home") + "QUIT\r\n");
}

void TestSendProgram::cancelledBySignal_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT (Ctrl-C)") << SIGINT;
}

void TestSendProgram::cancelledBySignal() {
    QFETCH(int, signalNumber);

    ScriptedServer server; // greets with nothing: the send waits
    QVERIFY(server.listening());

    SendRun send;
    send.writeIni(serverIni(server.port(), "timeout=0\r\n"));
    send.start({"77", "-m", "Call home"});
    QVERIFY(send.waitForOutput("status: CONNECTED...\n"));
    QTRY_COMPARE(server.connectionCount(), 1);
    QCOMPARE(::kill(static_cast<pid_t>(send.pid()), signalNumber), 0);
    const Outcome o = send.finish();

    QVERIFY(o.ended);
    QCOMPARE(o.out, QByteArray("status: CONNECTING...\nstatus: CONNECTED...\nstatus: CANCEL\n"));
    QCOMPARE(o.err, QByteArray());
    QCOMPARE(o.exitCode, 1);
    QTRY_VERIFY(server.peerClosed(0));
    QCOMPARE(server.received(0), QByteArray());
}

void TestSendProgram::messageFromInput_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("line end dropped") << QByteArray("Call home\n") << QByteArray("Call home");
    QTest::newRow("CR LF dropped") << QByteArray("Call home\r\n\r\n") << QByteArray("Call home");
    QTest::newRow("no line end") << QByteArray("Call home") << QByteArray("Call home");
    // Inner line breaks would end the command early: they go as blanks.
    QTest::newRow("several lines")
        << QByteArray("disk full\non db1\r\nnow\n") << QByteArray("disk full on db1 now");
    QTest::newRow("UTF-8 unchanged") << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                                   "e \xe2\x98\x8e\n")
                                     << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                                   "e \xe2\x98\x8e");
    QTest::newRow("999 characters") << QByteArray(999, 'x') + "\n" << QByteArray(999, 'x');
}

void TestSendProgram::messageFromInput() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, sent);

    ScriptedServer server;
    QVERIFY(server.listening());
    server.setGreeting(Reply::send(Script{}.greeting));
    server.setResponder([](const QByteArray& line, int) { return play(Script{}, line); });

    SendRun send;
    send.writeIni(serverIni(server.port()));
    const Outcome o = send.run({"77"}, input);

    QVERIFY(o.ended);
    QCOMPARE(o.err, QByteArray());
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(server.received(0), pages({"77"}, sent) + "QUIT\r\n");
}

void TestSendProgram::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QString>("err"); // %WINDIR% stands for the settings directory

    const QByteArray none;
    const QStringList m{"-m", "Call home"};
    const QString see = QStringLiteral(" (see --help)\n");
    const QString noRecipient =
        QStringLiteral("dazoroz-send: no recipient: give pager IDs or names from names.txt") + see;

    QTest::newRow("no arguments") << QStringList{} << none << none << kNames << noRecipient;
    QTest::newRow("unknown name")
        << QStringList{"Dave"} + m << none << none << kNames
        << "dazoroz-send: unknown name \"Dave\": no entry of names.txt in the "
           "working directory has that name" +
               see;
    QTest::newRow("control character in a name")
        << QStringList{"An\tn"} + m << none << none << kNames
        << "dazoroz-send: unknown name \"An\\x09n\": no entry of names.txt in the working "
           "directory has that name" +
               see;
    QTest::newRow("name of two pagers")
        << QStringList{"ann"} + m << none << none << QByteArray("Ann, 1\r\nann, 2\r\nAnn, 1\r\n")
        << "dazoroz-send: the name \"ann\" is not unique in names.txt: it "
           "has the entries \"Ann, 1\", \"Ann, 1\", \"ann, 2\"" +
               see;
    QTest::newRow("entry without a pager ID")
        << QStringList{"Ann"} + m << none << none << QByteArray("Ann, none\r\n")
        << "dazoroz-send: the names.txt entry \"Ann, none\" holds no pager ID after its comma" +
               see;
    QTest::newRow("empty recipient")
        << QStringList{" "} + m << none << none << kNames
        << "dazoroz-send: an empty recipient: give a pager ID or a name "
           "from names.txt" +
               see;
    QTest::newRow("11-digit ID")
        << QStringList{"12345678901"} + m << none << none << kNames
        << "dazoroz-send: the pager ID 12345678901 has more than 10 digits" + see;
    QTest::newRow("empty message") << QStringList{"77", "-m", ""} << none << none << kNames
                                   << "dazoroz-send: the message is empty" + see;
    QTest::newRow("empty standard input")
        << QStringList{"77"} << QByteArray("\r\n") << none << kNames
        << "dazoroz-send: the message read from standard input is empty" + see;
    QTest::newRow("message too long")
        << QStringList{"77", "-m", QString(1000, QLatin1Char('x'))} << none << none << kNames
        << "dazoroz-send: the message has 1000 characters; a page holds at "
           "most 999" +
               see;
    QTest::newRow("NUL in the message")
        << QStringList{"77"} << QByteArray("Call\0home\n", 11) << none << kNames
        << "dazoroz-send: the message holds a NUL byte, which a page cannot carry" + see;
    QTest::newRow("standard input far too long")
        << QStringList{"77"} << QByteArray(70'000, 'x') << none << kNames
        << "dazoroz-send: standard input holds more than 65536 bytes; a page holds at most 999 "
           "characters" +
               see;
    QTest::newRow("port 0")
        << QStringList{"77", "--port", "0"} + m << none << none << kNames
        << "dazoroz-send: --port wants a whole number from 1 to 65535, not \"0\"" + see;
    QTest::newRow("port not a number")
        << QStringList{"77", "--port=4x4"} + m << none << none << kNames
        << "dazoroz-send: --port wants a whole number from 1 to 65535, not "
           "\"4x4\"" +
               see;
    QTest::newRow("negative time-out")
        << QStringList{"77", "-t", "-1"} + m << none << none << kNames
        << "dazoroz-send: -t wants a whole number from 0 to 2147483647, "
           "not \"-1\"" +
               see;
    QTest::newRow("empty server")
        << QStringList{"77", "--server="} + m << none << none << kNames
        << "dazoroz-send: --server wants a host name or address, not an empty "
           "text" +
               see;
    QTest::newRow("unknown option") << QStringList{"77", "--bogus"} + m << none << none << kNames
                                    << "dazoroz-send: unknown option \"--bogus\"" + see;
    QTest::newRow("option without its value") << QStringList{"77", "-m"} << none << none << kNames
                                              << "dazoroz-send: -m needs a value" + see;
    QTest::newRow("empty serverIP in dazoroz.ini")
        << QStringList{"77"} + m << none << QByteArray("serverIP=\r\n") << kNames
        << "dazoroz-send: no server address: serverIP in %WINDIR%/dazoroz.ini is empty; give "
           "one with --server" +
               see;
    QTest::newRow("serverPort -1 in dazoroz.ini")
        << QStringList{"77"} + m << none << QByteArray("serverPort=-1\r\n") << kNames
        << "dazoroz-send: no usable server port: serverPort in %WINDIR%/dazoroz.ini is -1; give "
           "one with --port" +
               see;
}

void TestSendProgram::badUsage() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, names);
    QFETCH(QString, err);

    ScriptedServer server;
    QVERIFY(server.listening());
    SendRun send;
    send.writeIni(ini + serverIni(server.port())); // the first of two equal keys counts
    if (!names.isNull()) {
        send.writeNames(names);
    }
    const Outcome o = send.run(arguments, input);

    QVERIFY(o.ended);
    QCOMPARE(QString::fromUtf8(o.err),
             QString(err).replace(QStringLiteral("%WINDIR%"), send.windir()));
    QCOMPARE(o.out, QByteArray());
    QCOMPARE(o.exitCode, 2);
    QCOMPARE(server.connectionCount(), 0);
}

void TestSendProgram::helpAndVersion() {
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        SendRun send;
        const Outcome o = send.run({"77", option, "--bogus"});
        QVERIFY(o.ended);
        QCOMPARE(o.exitCode, 0);
        QVERIFY2(o.out.startsWith("Usage: dazoroz-send [OPTIONS] RECIPIENT..."), o.out);
        QVERIFY(o.out.contains("Exit status: 0 when"));
        QCOMPARE(o.err, QByteArray());
    }
    SendRun send;
    const Outcome o = send.run({"--version"});
    QVERIFY(o.ended);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.out, QByteArray("dazoroz-send " DAZOROZ_VERSION "\n"));
    QCOMPARE(o.err, QByteArray());
}

QTEST_GUILESS_MAIN(TestSendProgram)
#include "test_send_program.moc"
