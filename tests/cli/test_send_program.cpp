// dazoroz-send run as a process against a scripted SNPP server in this test's event loop: what
// reaches the server, what the program prints, and its exit status.

#include "support/flood_server.h"
#include "support/load_adjusted_timer.h"
#include "support/refused_port.h"
#include "support/scripted_server.h"
#include "support/test_pki.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <optional>

#include <signal.h>

using dazoroz::testsupport::FloodServer;
using dazoroz::testsupport::LoadAdjustedTimer;
using dazoroz::testsupport::RefusedPort;
using dazoroz::testsupport::Reply;
using dazoroz::testsupport::ScriptedServer;
using dazoroz::testsupport::TestPki;

namespace {

constexpr int kWaitMs = 20'000;

const QByteArray kNames = "Bob, 22-22\r\nAnn, 1234\r\nCy, (0)55-5\r\n";

// One run of the program and what it must come to. The server plays the paging dialogue, but
// answers PAGE of failingPager with 550 and a command starting with `on` with `instead`.
// (Every member has an initializer: g++ 12 warns of members left out of designated lists.)
struct Case {
    QStringList args{};                // %PORT% stands for the server's port
    std::optional<QByteArray> input{}; // written to standard input, which is then closed
    QByteArray ini{}; // [General] keys before the server's address: the first of two counts
    bool userSettings = false;    // no WINDIR: the ini is the user's own, under XDG_CONFIG_HOME
    bool iniOpenToOthers = false; // mode 0666
    QByteArray names = kNames;
    bool namesInDataFolder = false; // names.txt in $XDG_DATA_HOME/dazoroz, not the working dir
    QByteArray passwordFile{};      // written to pw.txt in the working directory when not empty
    QByteArray envPassword{};       // DAZOROZ_PASSWORD, when not empty
    QByteArray greeting = "220 SNPP server ready\r\n";
    QByteArray failingPager{};
    QByteArray on{};
    Reply instead{};
    bool listening = true;                // false: the port in dazoroz.ini refuses
    bool ipv6Server = false;              // the server listens on ::1, not 127.0.0.1
    int signal = 0;                       // sent once the program shows CONNECTED...
    std::optional<QByteArray> received{}; // over the one connection; none: no connection at all
    QByteArray out{};                     // out and err: a pattern when they start with ^
    QByteArray err{}; // %WINDIR% stands for the settings directory, %WORKDIR% for the working one
    int exitCode = 0;
};

// A send over TLS to dazoroz-snppd. %PKI% stands for the folder of the test certificates,
// %PORT% for the server's port.
struct TlsCase {
    QStringList server{}; // dazoroz-snppd's options; empty: a server that never says a word
    QByteArray ini{};     // [General] keys
    QStringList args{};
    int signal = 0; // sent once the server has the client's first bytes
    QByteArray pages{};
    QByteArray out{};
    QByteArray err{};
    int exitCode = 0;
};

} // namespace

Q_DECLARE_METATYPE(Case)
Q_DECLARE_METATYPE(TlsCase)

namespace {

QByteArray pages(const QList<QByteArray>& ids, const QByteArray& message = "Call home") {
    QByteArray bytes;
    for (const QByteArray& id : ids) {
        bytes += "PAGE " + id + "\r\nMESS " + message + "\r\nSEND\r\n";
    }
    return bytes;
}

QByteArray pagesThenQuit(const QList<QByteArray>& ids, const QByteArray& message = "Call home") {
    return pages(ids, message) + "QUIT\r\n";
}

const QByteArray kConnected = "status: CONNECTING...\nstatus: CONNECTED...\n";
const QByteArray kSuccess = "status: SUCCESS\n";

QByteArray sendingTo(const QByteArray& entry) {
    return "log: Sending to: " + entry + " ...\n";
}

QByteArray sentOk(const QByteArray& entry) {
    return sendingTo(entry) + "log: MESSAGE SENT OK\n";
}

// The expected text, or the actual one when it fits the expected pattern (^...).
QByteArray expected(const QByteArray& actual, const QByteArray& wanted) {
    const bool fits =
        wanted.startsWith('^') &&
        QRegularExpression(QString::fromUtf8(wanted)).match(QString::fromUtf8(actual)).hasMatch();
    return fits ? actual : wanted;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Settings (WINDIR) and working directory are fresh temporary directories.
void check(const Case& c) {
    ScriptedServer server(c.ipv6Server ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
    QVERIFY(server.listening());
    server.useSnppScript({c.greeting, c.failingPager, c.on, c.instead});
    const RefusedPort refused;
    QVERIFY(refused.isValid());
    const QString port = QString::number(c.listening ? server.port() : refused.port());

    QTemporaryDir windir;
    QTemporaryDir workdir;
    const QString iniFolder =
        c.userSettings ? windir.filePath(QStringLiteral("dazoroz")) : windir.path();
    QVERIFY(QDir().mkpath(iniFolder));
    writeFile(iniFolder + QStringLiteral("/dazoroz.ini"),
              "[General]\r\n" + c.ini + "serverIP=127.0.0.1\r\nserverPort=" + port.toUtf8());
    if (c.iniOpenToOthers)
        QVERIFY(QFile::setPermissions(iniFolder + QStringLiteral("/dazoroz.ini"),
                                      QFileDevice::Permissions(0x6666)));
    const QString namesFolder =
        c.namesInDataFolder ? workdir.filePath(QStringLiteral("data/dazoroz")) : workdir.path();
    QVERIFY(QDir().mkpath(namesFolder));
    writeFile(namesFolder + QStringLiteral("/names.txt"), c.names);
    if (!c.passwordFile.isEmpty())
        writeFile(workdir.filePath(QStringLiteral("pw.txt")), c.passwordFile);

    QProcess program;
    QByteArray out;
    QObject::connect(&program, &QProcess::readyReadStandardOutput,
                     [&] { out += program.readAllStandardOutput(); });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DAZOROZ_PASSWORD"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), workdir.filePath(QStringLiteral("data")));
    if (!c.envPassword.isEmpty())
        env.insert(QStringLiteral("DAZOROZ_PASSWORD"), QString::fromUtf8(c.envPassword));
    if (c.userSettings) {
        env.remove(QStringLiteral("WINDIR"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), windir.path());
    } else {
        env.insert(QStringLiteral("WINDIR"), windir.path());
    }
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(workdir.path());
    program.start(QStringLiteral(SEND_PROGRAM),
                  QStringList(c.args).replaceInStrings(QStringLiteral("%PORT%"), port));
    QVERIFY(program.waitForStarted(kWaitMs));
    if (c.input) {
        program.write(*c.input);
        program.closeWriteChannel();
    }
    if (c.signal != 0) {
        QVERIFY(QTest::qWaitFor([&] { return out.contains("status: CONNECTED...\n"); }, kWaitMs));
        QTRY_COMPARE(server.connectionCount(), 1);
        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), c.signal), 0);
    }
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWaitMs));

    out += program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    QCOMPARE(out, expected(out, c.out));
    QCOMPARE(err, expected(err, QByteArray(c.err)
                                    .replace("%WINDIR%", windir.path().toUtf8())
                                    .replace("%WORKDIR%", workdir.path().toUtf8())));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), c.exitCode);
    QCOMPARE(server.connectionCount(), c.received ? 1 : 0);
    if (c.received) {
        QTRY_COMPARE(server.received(0), *c.received);
    }
}

} // namespace

class TestSendProgram : public QObject {
    Q_OBJECT

private slots:
    void delivers_data();
    void delivers() { run(); }
    void fails_data();
    void fails() { run(); }
    void badUsage_data();
    void badUsage() { run(); }
    void helpAndVersion_data();
    void helpAndVersion() { run(); }
    void floodingServer_data();
    void floodingServer();
    void tls_data();
    void tls();

private:
    TestPki pki_;

    static void run() {
        QFETCH(Case, c);
        check(c);
    }
};

void TestSendProgram::delivers_data() {
    QTest::addColumn<Case>("c");

    // Names in the order given, not in list order; each name in any letter case.
    QTest::newRow("two names") << Case{.args = {"bob", "ANN", "-m", "Call home"},
                                       .received = pagesThenQuit({"2222", "1234"}),
                                       .out = kConnected + sentOk("Bob, 22-22") +
                                              sentOk("Ann, 1234") + kSuccess};
    // Single-recipient mode: the ID as typed, nothing logged; 10 digits are the most.
    QTest::newRow("one typed ID") << Case{.args = {"0555123456", "-m", "Call home"},
                                          .received = pagesThenQuit({"0555123456"}),
                                          .out = kConnected + kSuccess};
    // One name is one checked entry: the multi-recipient log.
    QTest::newRow("one name") << Case{.args = {"Cy", "-m", "Call home"},
                                      .received = pagesThenQuit({"0555"}),
                                      .out = kConnected + sentOk("Cy, (0)55-5") + kSuccess};
    QTest::newRow("IDs and a name")
        << Case{.args = {"5551234", "cy", "77", "-m", "Call home"},
                .received = pagesThenQuit({"5551234", "0555", "77"}),
                .out = kConnected + sentOk("Pager, 5551234") + sentOk("Cy, (0)55-5") +
                       sentOk("Pager, 77") + kSuccess};
    QTest::newRow("banner") << Case{.args = {"77", "-m", "Call home"},
                                    .greeting = "220 \x02Hello there\r\n",
                                    .received = pagesThenQuit({"77"}),
                                    .out = kConnected + "banner: Hello there\n" + kSuccess};
    QTest::newRow("the user's own dazoroz.ini") << Case{.args = {"77", "-m", "Call home"},
                                                        .userSettings = true,
                                                        .received = pagesThenQuit({"77"}),
                                                        .out = kConnected + kSuccess};
    QTest::newRow("banner with control characters")
        << Case{.args = {"77", "-m", "Call home"},
                .greeting = "220 \x02Hi\x1b[2J\xc2\x9b\x9b"
                            "2J €\r\n",
                .received = pagesThenQuit({"77"}),
                .out = kConnected + "banner: Hi\\x1b[2J\\xc2\\x9b\\x9b2J €\n" + kSuccess};
    // SUCCESS shows before the server's 221; what becomes of the goodbye does not undo it.
    QTest::newRow("no reply to QUIT, time-out from -t")
        << Case{.args = {"bob", "ann", "-m", "Call home", "-t", "1"},
                .on = "QUIT",
                .instead = Reply::silence(),
                .received = pagesThenQuit({"2222", "1234"}),
                .out = kConnected + sentOk("Bob, 22-22") + sentOk("Ann, 1234") + kSuccess};
    QTest::newRow("reset after QUIT")
        << Case{.args = {"77", "-m", "Call home"},
                .on = "QUIT",
                .instead = Reply::reset(),
                .received = pagesThenQuit({"77"}),
                .out = "^" + QRegularExpression::escape(kConnected + kSuccess).toUtf8() +
                       R"((statusbar: Error: [^\n]*\n)?\z)"};
    // The login first, with the password from a file, the environment or dazoroz.ini; the
    // server answers only the exact LOGI line with 250.
    const auto login = [](const char* name, Case c, const QByteArray& line) {
        c.on = line;
        c.instead = Reply::send("250 Logged in\r\n");
        c.received = line + "\r\n" + pagesThenQuit({"77"});
        c.out = kConnected + kSuccess;
        QTest::newRow(name) << c;
    };
    const QStringList toPager{"77", "-m", "Call home"};
    login("login, password file",
          {.args = toPager + QStringList{"--login", "ann", "--password-file", "pw.txt"},
           .ini = "password=wrong\r\n",
           .passwordFile = "s3 cret\r\nsecond line\n",
           .envPassword = "wrong"},
          "LOGI ann s3 cret");
    login("login, DAZOROZ_PASSWORD",
          {.args = toPager + QStringList{"--login=ann"},
           .ini = "password=wrong\r\n",
           .envPassword = "s3cret"},
          "LOGI ann s3cret");
    login("login, password file a pipe",
          {.args = toPager + QStringList{"--login", "ann", "--password-file", "/dev/stdin"},
           .input = "s3cret\nsecond line\n"},
          "LOGI ann s3cret");
    login("login and password from dazoroz.ini",
          {.args = toPager, .ini = "loginID=ann\r\npassword=s3cret\r\n"}, "LOGI ann s3cret");
    login("login without a password", {.args = toPager + QStringList{"--login", "ann"}},
          "LOGI ann");
    // Another user could have planted it: the machine-wide file is read instead.
    QTest::newRow("the user's own dazoroz.ini open to others")
        << Case{.args = {"-s", "127.0.0.1", "-p", "%PORT%", "77", "-m", "Call home"},
                .userSettings = true,
                .iniOpenToOthers = true,
                .received = pagesThenQuit({"77"}),
                .out = kConnected + kSuccess,
                .err = "^dazoroz-send: %WINDIR%/dazoroz/dazoroz\\.ini ignored: others may write "
                       "to it; reading /.*/dazoroz\\.ini instead\n\\z"};
    QTest::newRow("IPv6 server") << Case{.args = {"-s", "[::1]", "77", "-m", "Call home"},
                                         .ipv6Server = true,
                                         .received = pagesThenQuit({"77"}),
                                         .out = kConnected + kSuccess};
    QTest::newRow("options override dazoroz.ini") << Case{
        .args = {"-s", "127.0.0.1", "--port=%PORT%", "-t60", "77", "--message", "Call home"},
        .ini = "serverIP=nohost.invalid\r\nserverPort=1\r\ntimeout=1\r\n",
        .received = pagesThenQuit({"77"}),
        .out = kConnected + kSuccess};

    // The settings' TLS and login turned off for one run; names from the desktop window's list.
    QTest::newRow("--no-tls over useTLS in dazoroz.ini")
        << Case{.args = {"--no-tls", "77", "-m", "Call home"},
                .ini = "useTLS=1\r\ntlsCAFile=none.pem\r\n",
                .received = pagesThenQuit({"77"}),
                .out = kConnected + kSuccess};
    QTest::newRow("--no-login over loginID in dazoroz.ini")
        << Case{.args = {"77", "--no-login", "-m", "Call home"},
                .ini = "loginID=a b\r\npassword=s3cret\r\n",
                .received = pagesThenQuit({"77"}),
                .out = kConnected + kSuccess};
    QTest::newRow("--data-folder") << Case{.args = {"--data-folder", "cy", "-m", "Call home"},
                                           .namesInDataFolder = true,
                                           .received = pagesThenQuit({"0555"}),
                                           .out = kConnected + sentOk("Cy, (0)55-5") + kSuccess};

    const auto fromInput = [](const char* name, const QByteArray& input, const QByteArray& sent) {
        QTest::newRow(name) << Case{.args = {"77"},
                                    .input = input,
                                    .received = pagesThenQuit({"77"}, sent),
                                    .out = kConnected + kSuccess};
    };
    fromInput("input: line end dropped", "Call home\n", "Call home");
    fromInput("input: CR LF dropped", "Call home\r\n\r\n", "Call home");
    fromInput("input: no line end", "Call home", "Call home");
    // Inner line breaks would end the command early: they go as blanks.
    fromInput("input: several lines", "disk full\non db1\r\nnow\n", "disk full on db1 now");
    fromInput("input: UTF-8 unchanged", "Grüße ☎\n", "Grüße ☎");
    fromInput("input: 999 characters", QByteArray(999, 'x') + "\n", QByteArray(999, 'x'));

    // The options over dazoroz.ini.
    QTest::newRow("--split, --no-data") << Case{
        .args = {"77", "-m", "Call home at once please", "--split=20", "--data", "--no-data"},
        .ini = "messageLimit=0\r\nuseData=1\r\n",
        .received = "PAGE 77\r\nMESS (1/2) Call home at\r\nSEND\r\n"
                    "PAGE 77\r\nMESS (2/2) once please\r\nSEND\r\nQUIT\r\n",
        .out = kConnected + kSuccess};
}

void TestSendProgram::helpAndVersion_data() {
    QTest::addColumn<Case>("c");

    const QByteArray help =
        R"(^Usage: dazoroz-send \[OPTIONS\] RECIPIENT\.\.\. [\s\S]*\nExit status: 0 when)";
    QTest::newRow("--help") << Case{.args = {"77", "--help", "--bogus"}, .out = help};
    QTest::newRow("-h") << Case{.args = {"77", "-h", "--bogus"}, .out = help};
    QTest::newRow("--version") << Case{.args = {"--version"},
                                       .out = "dazoroz-send " DAZOROZ_VERSION "\n"};
}

void TestSendProgram::fails_data() {
    QTest::addColumn<Case>("c");

    const QStringList three{"bob", "ann", "cy", "-m", "Call home"};
    QTest::newRow("550 to the second recipient")
        << Case{.args = three,
                .failingPager = "1234",
                .received = pages({"2222"}) + "PAGE 1234\r\n",
                .out = kConnected + sentOk("Bob, 22-22") + sendingTo("Ann, 1234") +
                       "log: FAIL, Send process terminated\nstatus: FAIL\n"
                       "statusbar: 550 Invalid pager ID\n",
                .exitCode = 3}; // refused for good: no retry helps
    QTest::newRow("421 to the message")
        << Case{.args = three,
                .on = "MESS",
                .instead = Reply::close("421 Too busy, try later\r\n"),
                .received = QByteArray("PAGE 2222\r\nMESS Call home\r\n"),
                .out = kConnected + sendingTo("Bob, 22-22") +
                       "log: FAIL, Send process terminated\nstatus: FAIL\n"
                       "statusbar: 421 Too busy, try later\n",
                .exitCode = 1};
    QTest::newRow("login refused, the password never shown")
        << Case{.args = {"77", "-m", "Call home", "--login", "ann"},
                .envPassword = "s3cret",
                .on = "LOGI",
                .instead = Reply::send("530 No login ann with s3cret\r\n"),
                .received = QByteArray("LOGI ann s3cret\r\n"),
                .out = kConnected + "log: FAIL, Send process terminated\nstatus: FAIL\n"
                                    "statusbar: 530 No login ann with ********\n",
                .exitCode = 3};
    QTest::newRow("silent server, time-out from dazoroz.ini")
        << Case{.args = three,
                .ini = "timeout=1\r\n",
                .greeting = {},
                .received = QByteArray(),
                .out = kConnected + "status: FAIL\n",
                .err = R"(^dazoroz-send: the send to 127\.0\.0\.1, port \d+, timed out after 1 )"
                       R"(second; no greeting; does the server expect TLS \(--tls\)\?\n\z)",
                .exitCode = 1};
    QTest::newRow("server closes in mid-send")
        << Case{.args = three,
                .on = "SEND",
                .instead = Reply::close(),
                .received = pages({"2222"}),
                .out = kConnected + sendingTo("Bob, 22-22"),
                .err = "dazoroz-send: the connection was closed before the page went out\n",
                .exitCode = 1};
    QTest::newRow("server resets the connection")
        << Case{.args = three,
                .on = "PAGE 1234",
                .instead = Reply::reset(),
                .received = pages({"2222"}) + "PAGE 1234\r\n",
                .out = kConnected + sentOk("Bob, 22-22") + sendingTo("Ann, 1234") +
                       "status: FAIL\nstatusbar: Error: Winsock error in recv()\n",
                .exitCode = 1};
    QTest::newRow("connection refused")
        << Case{.args = {"77", "-m", "Call home"},
                .listening = false,
                .out = "status: CONNECTING...\nstatus: FAIL\n"
                       "statusbar: Error: [10061] Connection refused\n",
                .exitCode = 1};
    // The port refuses what Send hands it at once: the send ends there, as in the window, and
    // the error goes to standard error.
    QTest::newRow("host name not found")
        << Case{.args = {"77", "-m", "Call home", "--server", "nohost.invalid"},
                .ini = "timeout=60\r\n",
                .out = "status: FAIL\n",
                .err = R"(^dazoroz-send: \[1100\d\] [^\n]*[^.\n]\.\n\z)",
                .exitCode = 1};
    // The port number is cut to 16 bits, as the window does: 65536 becomes 0.
    QTest::newRow("port 65536 in dazoroz.ini")
        << Case{.args = {"77", "-m", "Call home"},
                .ini = "serverPort=65536\r\ntimeout=60\r\n",
                .out = "status: FAIL\n",
                .err = "dazoroz-send: 116: RemotePort can't be zero. Please specify a valid "
                       "service port number.\n",
                .exitCode = 1};
    for (const auto& [name, number] :
         {std::pair{"SIGTERM", SIGTERM}, {"SIGINT (Ctrl-C)", SIGINT}}) {
        // The server greets with nothing: the send waits.
        QTest::newRow(name) << Case{.args = {"77", "-m", "Call home"},
                                    .ini = "timeout=0\r\n",
                                    .greeting = {},
                                    .signal = number,
                                    .received = QByteArray(),
                                    .out = kConnected + "status: CANCEL\n",
                                    .exitCode = 1};
    }
}

void TestSendProgram::badUsage_data() {
    QTest::addColumn<Case>("c");

    const auto usage = [](const char* name, Case c, const QByteArray& message) {
        c.err = "dazoroz-send: " + message + " (see --help)\n";
        c.exitCode = 2;
        QTest::newRow(name) << c;
    };
    const QByteArray noName = "no entry of %WORKDIR%/names.txt has that name";
    usage("no arguments", {}, "no recipient: give pager IDs or names from names.txt");
    usage("unknown name", {.args = {"Dave", "-m", "Call home"}},
          "unknown name \"Dave\": " + noName);
    usage("control character in a name", {.args = {"An\tn", "-m", "Call home"}},
          "unknown name \"An\\x09n\": " + noName);
    usage("unknown name, --data-folder",
          {.args = {"--data-folder", "Dave", "-m", "Call home"}, .namesInDataFolder = true},
          "unknown name \"Dave\": no entry of %WORKDIR%/data/dazoroz/names.txt has that name");
    usage("name of two pagers",
          {.args = {"ann", "-m", "Call home"}, .names = "Ann, 1\r\nann, 2\r\nAnn, 1\r\n"},
          "the name \"ann\" is not unique in names.txt: it has the entries \"Ann, 1\", \"Ann, 1\", "
          "\"ann, 2\"");
    usage("entry without a pager ID",
          {.args = {"Ann", "-m", "Call home"}, .names = "Ann, none\r\n"},
          "the names.txt entry \"Ann, none\" holds no pager ID after its comma");
    usage("empty recipient", {.args = {" ", "-m", "Call home"}},
          "an empty recipient: give a pager ID or a name from names.txt");
    usage("11-digit ID", {.args = {"12345678901", "-m", "Call home"}},
          "the pager ID 12345678901 has more than 10 digits");
    usage("empty message", {.args = {"77", "-m", ""}}, "the message is empty");
    usage("empty standard input", {.args = {"77"}, .input = "\r\n"},
          "the message read from standard input is empty");
    usage("message too long", {.args = {"77", "-m", QString(1000, QLatin1Char('x'))}},
          "the message has 1000 characters; a page holds at most 999");
    usage("NUL in the message", {.args = {"77"}, .input = QByteArray("Call\0home\n", 11)},
          "the message holds a NUL byte, which a page cannot carry");
    usage("standard input far too long", {.args = {"77"}, .input = QByteArray(70'000, 'x')},
          "standard input holds more than 65536 bytes; a page holds at most 999 characters");
    usage("port 0", {.args = {"77", "--port", "0", "-m", "Call home"}},
          "--port wants a whole number from 1 to 65535, not \"0\"");
    usage("port not a number", {.args = {"77", "--port=4x4", "-m", "Call home"}},
          "--port wants a whole number from 1 to 65535, not \"4x4\"");
    usage("negative time-out", {.args = {"77", "-t", "-1", "-m", "Call home"}},
          "-t wants a whole number from 0 to 2147483647, not \"-1\"");
    usage("empty server", {.args = {"77", "--server=", "-m", "Call home"}},
          "--server wants a host name or address, not an empty text");
    usage("unknown option", {.args = {"77", "--bogus", "-m", "Call home"}},
          "unknown option \"--bogus\"");
    usage("option without its value", {.args = {"77", "-m"}}, "-m needs a value");
    usage("login with a blank", {.args = {"77", "-m", "x", "--login", "a b"}},
          "--login wants a login ID without blanks or control characters, not \"a b\"");
    usage("login with a line break", {.args = {"77", "-m", "x", "--login", "a\nb"}},
          "--login wants a login ID without blanks or control characters, not \"a\\x0ab\"");
    usage("DAZOROZ_PASSWORD with a line break",
          {.args = {"77", "-m", "x", "--login", "ann"}, .envPassword = "s3\r\ncret"},
          "DAZOROZ_PASSWORD holds a line break");
    usage("loginID with a blank in dazoroz.ini",
          {.args = {"77", "-m", "Call home"}, .ini = "loginID=a b\r\n"},
          "loginID in %WINDIR%/dazoroz.ini holds a blank or a control character; give one with "
          "--login");
    usage("missing password file", {.args = {"77", "-m", "x", "--password-file", "none.txt"}},
          "--password-file: cannot read \"none.txt\": No such file or directory");
    usage("TLS with a value", {.args = {"77", "-m", "x", "--tls=yes"}}, "--tls takes no value");
    usage("missing CA file", {.args = {"77", "-m", "x", "--tls-ca", "none.pem"}},
          "--tls-ca: cannot read \"none.pem\"");
    usage("CA file without a certificate",
          {.args = {"77", "-m", "x", "--tls-ca", "pw.txt"}, .passwordFile = "no certificate\n"},
          "--tls-ca: \"pw.txt\" holds no certificate that can be used");
    usage("--no-tls with --tls-ca", {.args = {"77", "-m", "x", "--tls-ca", "a.pem", "--no-tls"}},
          "--no-tls and --tls-ca exclude each other");
    usage("--no-login with --login", {.args = {"77", "-m", "x", "--no-login", "--login", "ann"}},
          "--no-login and --login exclude each other");
    usage("--no-login with a value", {.args = {"77", "-m", "x", "--no-login=1"}},
          "--no-login takes no value");
    usage("split too small", {.args = {"77", "-m", "x", "--split", "19"}},
          "--split wants 0 (never split) or a whole number of 20 or more, not \"19\"");
    usage("password option value", {.args = {"77", "-m", "x", "--password", "s3cret"}},
          "unknown option \"--password\"");
    usage("empty serverIP in dazoroz.ini",
          {.args = {"77", "-m", "Call home"}, .ini = "serverIP=\r\n"},
          "no server address: serverIP in %WINDIR%/dazoroz.ini is empty; give one with --server");
    usage("serverPort -1 in dazoroz.ini",
          {.args = {"77", "-m", "Call home"}, .ini = "serverPort=-1\r\n"},
          "no usable server port: serverPort in %WINDIR%/dazoroz.ini is -1; give one with --port");
    usage("serverPort 0 in dazoroz.ini",
          {.args = {"77", "-m", "Call home"}, .ini = "serverPort=0\r\n"},
          "no usable server port: serverPort in %WINDIR%/dazoroz.ini is 0; give one with --port");
}

// A server that sends without pause from the connect on, and never a reply: the time-out (at
// the third tick of the 333 ms timer at the latest for one second) and SIGTERM still end the
// send in time. Times leave out what the machine's load costs (LoadAdjustedTimer).
void TestSendProgram::floodingServer_data() {
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<int>("withinMs"); // from CONNECTING... or from the signal to the end
    QTest::newRow("time-out") << "1" << 0 << kConnected + "status: FAIL\n" << 3 * 333 + 200;
    QTest::newRow("SIGTERM") << "0" << SIGTERM << kConnected + "status: CANCEL\n" << 200;
}

void TestSendProgram::floodingServer() {
    QFETCH(QString, timeout);
    QFETCH(int, signal);
    QFETCH(QByteArray, out);
    QFETCH(int, withinMs);
    FloodServer flood;
    QVERIFY(flood.listening());
    QTemporaryDir windir;
    writeFile(windir.filePath(QStringLiteral("dazoroz.ini")),
              "[General]\r\nserverIP=127.0.0.1\r\nserverPort=" + QByteArray::number(flood.port()));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINDIR"), windir.path());
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(windir.path());
    program.start(QStringLiteral(SEND_PROGRAM), {"-t", timeout, "77", "-m", "Call home"});
    QVERIFY(program.waitForStarted(kWaitMs));
    QByteArray printed;
    // Looks often, to see the end soon after it comes.
    const auto waitFor = [&](const std::function<bool()>& done, LoadAdjustedTimer* clock) {
        QElapsedTimer limit;
        limit.start();
        while (!done() && limit.elapsed() < kWaitMs) {
            QTest::qWait(5);
            printed += program.readAllStandardOutput();
            if (clock != nullptr) {
                clock->sample();
            }
        }
        return done();
    };
    const QString threads[] = {LoadAdjustedTimer::thisThread(),
                               LoadAdjustedTimer::mainThreadOf(program.processId())};
    QVERIFY(waitFor([&] { return printed.contains("status: CONNECTING...\n"); }, nullptr));
    std::optional<LoadAdjustedTimer> clock(std::in_place, QStringList{threads[0], threads[1]});
    if (signal != 0) {
        const std::uint64_t before = flood.bytesSent();
        QVERIFY(waitFor([&] { return flood.bytesSent() > before + (1 << 20); }, nullptr));
        QVERIFY(printed.endsWith("status: CONNECTED...\n"));
        clock.emplace(QStringList{threads[0], threads[1]});
        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal), 0);
    }
    QVERIFY(waitFor([&] { return program.state() == QProcess::NotRunning; }, &*clock));
    const qint64 took = clock->elapsedMs();
    QVERIFY2(took <= withinMs, qPrintable(QStringLiteral("%1 ms, %2 ms waited for a CPU besides")
                                              .arg(took)
                                              .arg(clock->waitedMs())));
    QCOMPARE(printed + program.readAllStandardOutput(), out);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(flood.bytesSent() > (1 << 20));
}

void TestSendProgram::tls_data() {
    QTest::addColumn<TlsCase>("c");
    const QStringList tlsServer{"--tls-cert", "%PKI%/server.pem", "--tls-key", "%PKI%/server.key"};
    const QStringList toPager{"--port", "%PORT%", "77", "-m", "Call home"};
    const QStringList trusting{"--tls-ca", "%PKI%/ca.pem", "--server", "127.0.0.1"};
    const QByteArray page = "page 77: Call home\n";
    QTest::newRow("by name") << TlsCase{
        .server = tlsServer,
        .args = QStringList{"--tls-ca", "%PKI%/ca.pem", "--server", "localhost"} + toPager,
        .pages = page,
        .out = kConnected + kSuccess};
    QTest::newRow("by address, TLS in dazoroz.ini")
        << TlsCase{.server = tlsServer,
                   .ini = "useTLS=1\r\ntlsCAFile=%PKI%/ca.pem\r\n",
                   .args = QStringList{"--server", "127.0.0.1"} + toPager,
                   .pages = page,
                   .out = kConnected + kSuccess};
    const auto failure = [&](const char* name, TlsCase c, const QByteArray& text) {
        c.args += toPager;
        c.out = "status: CONNECTING...\nstatus: FAIL\nstatusbar: Error: " + text + "\n";
        c.exitCode = 1;
        QTest::newRow(name) << c;
    };
    const auto serving = [&](const char* certificate) {
        return QStringList{"--tls-cert", QStringLiteral("%PKI%/") + certificate, "--tls-key",
                           "%PKI%/server.key"};
    };
    failure("another name", {.server = serving("wrong-name.pem"), .args = trusting},
            "[20004] TLS: certificate does not match the server name");
    failure("expired", {.server = serving("expired.pem"), .args = trusting},
            "[20005] TLS: certificate has expired");
    failure(
        "untrusted CA",
        {.server = tlsServer, .args = {"--tls-ca", "%PKI%/other-ca.pem", "--server", "127.0.0.1"}},
        "[20003] TLS: certificate is not trusted");
    failure("plain server", {.server = {"--idle", "60"}, .args = trusting},
            "[20001] TLS: the server does not speak TLS");
    failure("reset during the handshake", {.server = {"--reset-at", "greeting"}, .args = trusting},
            "[20009] TLS: connection reset during the handshake");
    // Without TLS the client waits for a greeting that the TLS server never sends.
    QTest::newRow("TLS server, TLS off") << TlsCase{
        .server = tlsServer,
        .args = QStringList{"--server", "127.0.0.1", "-t", "1"} + toPager,
        .out = kConnected + "status: FAIL\n",
        .err = R"(^dazoroz-send: the send to 127\.0\.0\.1, port \d+, timed out )"
               R"(after 1 second; no greeting; does the server expect TLS \(--tls\)\?\n\z)",
        .exitCode = 1};
    QTest::newRow("Cancel during the handshake")
        << TlsCase{.args = trusting + toPager,
                   .signal = SIGTERM,
                   .out = "status: CONNECTING...\nstatus: CANCEL\n",
                   .exitCode = 1};
    QTest::newRow("no certificate in dazoroz.ini's CA file")
        << TlsCase{.server = tlsServer,
                   .ini = "useTLS=1\r\ntlsCAFile=%PKI%/server.key\r\n",
                   .args = QStringList{"--server", "127.0.0.1"} + toPager,
                   .out = "status: FAIL\n",
                   .err = "dazoroz-send: [20012] TLS: the CA file cannot be read.\n",
                   .exitCode = 1};
}

// dazoroz-snppd on a port of the system's choice, or a scripted server that stays silent.
void TestSendProgram::tls() {
    QFETCH(TlsCase, c);
    QVERIFY2(pki_.error().isEmpty(), qPrintable(pki_.error()));
    const auto withPki = [&](QStringList list) {
        return list.replaceInStrings(QStringLiteral("%PKI%"), pki_.folder());
    };
    ScriptedServer silent;
    QProcess snppd;
    QByteArray serverOut;
    QByteArray serverErr;
    quint16 port = silent.port();
    if (!c.server.isEmpty()) {
        QObject::connect(&snppd, &QProcess::readyReadStandardOutput,
                         [&] { serverOut += snppd.readAllStandardOutput(); });
        QObject::connect(&snppd, &QProcess::readyReadStandardError,
                         [&] { serverErr += snppd.readAllStandardError(); });
        snppd.start(QStringLiteral(SNPPD_PROGRAM),
                    withPki(c.server) + QStringList{"--port", "0", "--verbose"});
        static const QRegularExpression listening(QStringLiteral("listening on [^:]+:(\\d+)\n"));
        QVERIFY(QTest::qWaitFor(
            [&] {
                port = listening.match(QString::fromUtf8(serverErr)).captured(1).toUShort();
                return port != 0 || snppd.state() == QProcess::NotRunning;
            },
            kWaitMs));
        QVERIFY2(port != 0, serverErr.constData());
    }
    QTemporaryDir windir;
    writeFile(windir.filePath(QStringLiteral("dazoroz.ini")),
              "[General]\r\n" + c.ini.replace("%PKI%", pki_.folder().toUtf8()));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINDIR"), windir.path());
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(windir.path());
    program.start(
        QStringLiteral(SEND_PROGRAM),
        withPki(c.args).replaceInStrings(QStringLiteral("%PORT%"), QString::number(port)));
    QVERIFY(program.waitForStarted(kWaitMs));
    if (c.signal != 0) {
        QVERIFY(QTest::qWaitFor([&] { return !silent.received(0).isEmpty(); }, kWaitMs));
        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), c.signal), 0);
    }
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWaitMs));
    const QByteArray out = program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    QCOMPARE(out, c.out);
    QCOMPARE(err, expected(err, c.err));
    QCOMPARE(program.exitCode(), c.exitCode);
    if (!c.server.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(serverOut, c.pages, kWaitMs);
        snppd.terminate();
        QVERIFY(snppd.waitForFinished(kWaitMs));
    }
}

QTEST_GUILESS_MAIN(TestSendProgram)
#include "test_send_program.moc"
