// The dazoroz-snppd program run as a process: its command line, its output and its failures.

#include "snpp_test_client.h"
#include "support/load_adjusted_timer.h"
#include "support/resident_memory.h"
#include "support/test_pki.h"
#include "support/tls_peer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include <openssl/ssl.h>

using dazoroz::snppd::testing::TestClient;
using dazoroz::snppd::testing::waitMs;
using dazoroz::testsupport::connectToLoopback;
using dazoroz::testsupport::kResidentBytesTell;
using dazoroz::testsupport::LoadAdjustedTimer;
using dazoroz::testsupport::residentBytes;
using dazoroz::testsupport::TestPki;
using dazoroz::testsupport::TlsPeer;

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
    const bool ended =
        process.waitForFinished(waitMs) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// The expected text, or the actual one when it fits the expected pattern (^...).
QByteArray expected(const QByteArray& actual, const QByteArray& wanted) {
    const bool fits =
        wanted.startsWith('^') &&
        QRegularExpression(QString::fromUtf8(wanted)).match(QString::fromUtf8(actual)).hasMatch();
    return fits ? actual : wanted;
}

// The program serving on a port of the system's choice, for as long as the object lives.
class RunningServer {
public:
    explicit RunningServer(QStringList arguments, const QByteArray& input = {}) {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                         [this] { out += process_.readAllStandardOutput(); });
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { err += process_.readAllStandardError(); });
        arguments << QStringLiteral("--port") << QStringLiteral("0");
        process_.start(QStringLiteral(SNPPD_PROGRAM), arguments);
        process_.write(input);
        static const QRegularExpression listening(
            QStringLiteral("^dazoroz-snppd: listening on (127\\.0\\.0\\.1|\\[::1\\]):(\\d+)\\n"),
            QRegularExpression::MultilineOption);
        static_cast<void>(QTest::qWaitFor(
            [&] {
                const auto match = listening.match(QString::fromUtf8(err));
                host = QHostAddress(match.captured(1).remove('[').remove(']'));
                port = match.hasMatch() ? match.captured(2).toUShort() : 0;
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

    qint64 pid() const { return process_.processId(); }

    QHostAddress host;
    quint16 port = 0;
    QByteArray out;
    QByteArray err;

private:
    QProcess process_;
};

// The process starts as nobody (the test runs as root).
void asNobody(QProcess& process) {
    process.setChildProcessModifier([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(99);
        }
    });
}

} // namespace

class TestSnppdProgram : public QObject {
    Q_OBJECT

private slots:
    void endsAtOnce_data();
    void endsAtOnce();
    void serves_data();
    void serves();
    void halfClosingClients();
    void tlsRefusesClients_data();
    void tlsRefusesClients();
    void tlsFloodingClient();
    void runsAsUser();
    void givesUpCapabilities();
    void cannotBecomeUser();

private:
    QTcpServer taken_;
    QTemporaryDir scratch_; // password files
    TestPki pki_;
};

void TestSnppdProgram::endsAtOnce_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out"); // out and err: a pattern when they start with ^
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("--help") << QStringList{"--help"} << 0
                            << QByteArray(
                                   R"(^Usage: \S*dazoroz-snppd \[options\]\n[\s\S]*--fail-at)")
                            << QByteArray();
    QTest::newRow("--version") << QStringList{"--version"} << 0
                               << QByteArray("dazoroz-snppd " DAZOROZ_VERSION "\n") << QByteArray();

    // One line on standard error that names the culprit.
    const auto usage = [](const char* name, const QStringList& arguments, const QString& culprit) {
        QTest::newRow(name) << arguments << 2 << QByteArray()
                            << ("^dazoroz-snppd: [^\n]*" + QRegularExpression::escape(culprit) +
                                "[^\n]*\n\\z")
                                   .toUtf8();
    };
    usage("unknown option", {"--bogus"}, "bogus");
    usage("argument", {"extra"}, "extra");
    usage("port not a number", {"--port", "abc"}, "--port");
    usage("port too big", {"--port", "65536"}, "--port");
    usage("port negative", {"--port", "-1"}, "--port");
    usage("port missing", {"--port"}, "port");
    usage("address a name", {"--address", "paging.example"}, "--address");
    usage("address half in brackets", {"--address", "[::1"}, "--address");
    usage("address not IPv6", {"--address", "::g"}, "--address");
    usage("control characters shown escaped", {"--address", "a\x1b[2J\u009b"},
          "\"a\\x1b[2J\\xc2\\x9b\"");
    usage("idle zero", {"--idle", "0"}, "--idle");
    usage("max clients zero", {"--max-clients", "0"}, "--max-clients");
    usage("unknown step", {"--fail-at", "help"}, "--fail-at");
    usage("max length zero", {"--max-length", "0"}, "--max-length");
    usage("step count zero", {"--reset-at", "page:0"}, "--reset-at");
    usage("second greeting", {"--silent-at", "greeting:2"}, "--silent-at");
    usage("banner with a line end", {"--banner", "a\nb"}, "--banner");
    // No message quotes the password.
    usage("login ID empty", {"--login", ":s3cret"}, "--login");
    usage("login ID with a blank", {"--login", "p t:s3cret"}, "--login");
    usage("password empty", {"--login", "pat:"}, "--login");
    usage("password with a control character", {"--login", "pat:s3\tcret"}, "--login");
    usage("password file alone", {"--password-file", "password.txt"}, "--password-file");
    usage("password twice", {"--login", "pat:s3cret", "--password-file", "password.txt"},
          "--password-file");
    const QString missing = scratch_.filePath(QStringLiteral("missing.txt"));
    usage("password file missing", {"--login", "pat", "--password-file", missing},
          "\"" + missing + "\": No such file or directory");
    usage("user root", {"--user", "root"}, "--user: \"root\" is root");
    usage("user unknown", {"--user", "no-such-user"},
          "--user: there is no user \"no-such-user\" on this system (see --help)");
    const QString empty = scratch_.filePath(QStringLiteral("empty.txt"));
    QFile emptyFile(empty);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly) && emptyFile.write("\nsecond line\n") > 0);
    usage("password file empty", {"--login", "pat", "--password-file", empty}, "\"" + empty + "\"");
    QVERIFY2(pki_.error().isEmpty(), qPrintable(pki_.error()));
    const QString cert = pki_.path("server.pem");
    const QString key = pki_.path("server.key");
    usage("certificate without key", {"--tls-cert", cert}, "--tls-key");
    usage("key without certificate", {"--tls-key", key}, "--tls-cert");
    usage("certificate file missing", {"--tls-cert", missing, "--tls-key", key},
          "--tls-cert \"" + missing + "\": TLS: the certificate file cannot be read");
    const QString otherKey = pki_.path("other-ca.key");
    usage("key of another certificate", {"--tls-cert", cert, "--tls-key", otherKey},
          "--tls-key \"" + otherKey + "\": TLS: the key file cannot be read or does not fit");
    usage("two split modes", {"--split", "--byte-by-byte"}, "--split");
    usage("two silences", {"--silent", "--silent-at", "mess"}, "--silent");

    QVERIFY(taken_.listen(QHostAddress(QHostAddress::LocalHost)));
    const QString port = QString::number(taken_.serverPort());
    QTest::newRow("port in use") << QStringList{"--port", port} << 1 << QByteArray()
                                 << "dazoroz-snppd: cannot listen on 127.0.0.1:" + port.toUtf8() +
                                        ": the port is already in use (another server listens "
                                        "there)\n";
}

void TestSnppdProgram::endsAtOnce() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    const Finished result = runToEnd(arguments);
    QCOMPARE(result.out, expected(result.out, out));
    QCOMPARE(result.err, expected(result.err, err));
    QCOMPARE(result.exitCode, exitCode);
}

void TestSnppdProgram::serves_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");    // sent at once
    QTest::addColumn<QByteArray>("received"); // up to the server's close
    QTest::addColumn<QByteArray>("out");      // the pages printed

    const QByteArray ready = "220 Dazoroz SNPP server ready\r\n";
    const QByteArray bye = "221 OK, Goodbye\r\n";
    // Control characters (C1 too, in UTF-8 or as raw bytes) are escaped, so that every page
    // stays one line and no terminal acts on them.
    QTest::newRow("prints pages")
        << QStringList{}
        << QByteArray("PAGE 1\r\nPAGE 2\r\nMESS Grüße\t\x1b[2J\xc2\x9b\x9b"
                      "2J\r\nSEND\r\n"
                      "QUIT\r\n")
        << ready +
               "250 Pager ID Accepted\r\n250 Pager ID Accepted\r\n250 Message OK\r\n"
               "250 Message Sent Successfully\r\n" +
               bye
        << QByteArray("page 1: Grüße\\x09\\x1b[2J\\xc2\\x9b\\x9b2J\n"
                      "page 2: Grüße\\x09\\x1b[2J\\xc2\\x9b\\x9b2J\n");
    // The password never shows in the log, nor (once read) in the process list.
    const QByteArray login = "LOGI pat s3cret\r\nPAGE 1\r\nMESS a\r\nSEND\r\nQUIT\r\n";
    const QByteArray loggedIn = ready +
                                "250 Login Accepted\r\n250 Pager ID Accepted\r\n250 Message OK\r\n"
                                "250 Message Sent Successfully\r\n" +
                                bye;
    QTest::newRow("login") << QStringList{"--login", "pat:s3cret", "--verbose"} << login << loggedIn
                           << QByteArray("page 1: a\n");
    const QString passwordPath = scratch_.filePath(QStringLiteral("password.txt"));
    QFile password(passwordPath);
    QVERIFY(password.open(QIODevice::WriteOnly) && password.write("s3cret\r\nsecond line\n") > 0);
    QTest::newRow("login, password from a file")
        << QStringList{"--login=pat", "--password-file", passwordPath, "--verbose"} << login
        << loggedIn << QByteArray("page 1: a\n");
    QTest::newRow("login, password from a pipe")
        << QStringList{"--login=pat", "--password-file", "/dev/stdin", "--verbose"} << login
        << loggedIn << QByteArray("page 1: a\n");
    // Line breaks are escaped too; the page line shows the hold time, subject and caller.
    QTest::newRow("level 2, max length")
        << QStringList{"--max-length", "10"}
        << QByteArray("PAGE 1\r\nMESS 12345678901\r\nHOLD 2612081254\r\nSUBJ Disk\r\nCALL "
                      "555\r\nDATA\r\nab\r\n..c\r\n.\r\nSEND\r\nQUIT\r\n")
        << ready +
               "250 Pager ID Accepted\r\n"
               "550 Error, message too long; no more than 10 characters accepted.\r\n"
               "250 Delayed Messaging Selected\r\n250 Message Subject Accepted\r\n"
               "250 Caller ID Accepted\r\n354 Begin Input; End with <CRLF>'.'<CRLF>\r\n"
               "250 Message OK\r\n250 Message Sent Successfully\r\n" +
               bye
        << QByteArray("page 1 (hold until 2612081254, subject \"Disk\", caller 555): ab\\x0a.c\n");
    QTest::newRow("IPv6") << QStringList{"--address", "::1"}
                          << QByteArray("PAGE 1\r\nMESS a\r\nSEND\r\nQUIT\r\n")
                          << ready +
                                 "250 Pager ID Accepted\r\n250 Message OK\r\n"
                                 "250 Message Sent Successfully\r\n" +
                                 bye
                          << QByteArray("page 1: a\n");
    QTest::newRow("IPv6 in brackets") << QStringList{"--address", "[::1]", "--verbose"}
                                      << QByteArray("QUIT\r\n") << ready + bye << QByteArray();
    QTest::newRow("banner") << QStringList{"--banner", "Hello"} << QByteArray("QUIT\r\n")
                            << "220 \x02Hello\r\n" + bye << QByteArray();
    const QByteArray page = "PAGE 1\r\nPAGE 666\r\nMESS a\r\nSEND\r\nQUIT\r\n";
    QTest::newRow("fail pager") << QStringList{"--fail-pager", "666"} << page
                                << ready +
                                       "250 Pager ID Accepted\r\n550 Error, Invalid Pager ID\r\n"
                                       "250 Message OK\r\n250 Message Sent Successfully\r\n" +
                                       bye
                                << QByteArray("page 1: a\n");
    QTest::newRow("fail at") << QStringList{"--fail-at", "PAGE:2"} << page
                             << ready + "250 Pager ID Accepted\r\n"
                                        "421 Service Not Available, Goodbye\r\n"
                             << QByteArray();
    QTest::newRow("silent, idle") << QStringList{"--silent", "--idle", "1"} << page << QByteArray()
                                  << QByteArray();
    QTest::newRow("no close, split, idle")
        << QStringList{"--no-close", "--split", "--split-delay", "100", "--idle", "1"}
        << QByteArray("QUIT\r\n") << ready + bye + "421 Timeout, Goodbye\r\n"
        << QByteArray();
}

void TestSnppdProgram::serves() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, out);

    if (arguments.join(' ').contains("::1") && !QTcpServer().listen(QHostAddress::LocalHostIPv6)) {
        QSKIP("no IPv6 loopback address (::1) on this machine");
    }
    RunningServer server(arguments, "s3cret\n"); // for a password file of /dev/stdin
    QVERIFY2(server.port != 0, server.err.constData());
    QElapsedTimer clock;
    clock.start();
    TestClient client(server.port, server.host);
    client.send(input);
    QVERIFY(client.waitForClose());
    QCOMPARE(client.received(), received);
    // An idle connection lasts its --idle seconds; --split sends the first byte on its own.
    if (const qsizetype idle = arguments.indexOf("--idle"); idle >= 0) {
        QVERIFY(clock.elapsed() >= 1000 * arguments.at(idle + 1).toInt());
    }
    if (arguments.contains("--split")) {
        QCOMPARE(client.chunks().first(), QByteArray("2"));
    }
    // Printed while the server still runs.
    QTRY_COMPARE_WITH_TIMEOUT(server.out, out, waitMs);
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(server.pid()));
    QVERIFY(commandLine.open(QIODevice::ReadOnly));
    QVERIFY(!commandLine.readAll().contains("s3cret"));
    QVERIFY(!server.err.contains("s3cret"));
    if (arguments.contains("--verbose")) {
        const bool ipv6 = server.host.protocol() == QAbstractSocket::IPv6Protocol;
        QVERIFY(server.err.contains(ipv6 ? "#1 connected from [::1]:" : "#1 connected from 127."));
    }
    if (arguments.contains("--login")) {
        QVERIFY(server.err.contains("> LOGI pat <password>\n"));
    }
}

void TestSnppdProgram::halfClosingClients() {
    // Like `nc -N`: each client sends its commands in one go and ends its input at once, all of
    // them together. Every command read is answered before the server closes; half the clients
    // leave out QUIT.
    constexpr int clients = 200;
    RunningServer server({"--max-clients", QString::number(clients)});
    QVERIFY2(server.port != 0, server.err.constData());
    std::vector<std::unique_ptr<TestClient>> all;
    for (int i = 0; i < clients; ++i) {
        all.push_back(std::make_unique<TestClient>(server.port));
    }
    for (const auto& client : all) {
        QVERIFY(client->waitForLines(1));
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i]->send(i % 2 == 0 ? "PAGE 1\r\nMESS a\r\nSEND\r\n"
                                : "PAGE 1\r\nMESS a\r\nSEND\r\nQUIT\r\n");
        all[i]->halfClose();
    }
    int lost = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        QVERIFY(all[i]->waitForClose());
        lost += all[i]->codes() != (i % 2 == 0 ? "220 250 250 250" : "220 250 250 250 221") ? 1 : 0;
    }
    QCOMPARE(lost, 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.out.count('\n'), clients, waitMs);
}

// With TLS, a client that does not speak TLS (judged by its first byte), or offers only TLS 1.1,
// gets no greeting, and is closed at once with its reason traced.
void TestSnppdProgram::tlsRefusesClients_data() {
    QTest::addColumn<QByteArray>("bytes"); // none: a TLS 1.1 client
    QTest::addColumn<QByteArray>("reason");
    const QByteArray notTls = "TLS: the client does not speak TLS";
    QTest::newRow("SNPP in plain text") << QByteArray("PAGE 1\r\n") << notTls;
    QTest::newRow("bytes like a record header") << QByteArray("\x00\x03\x00\x03\x01", 5) << notTls;
    QTest::newRow("TLS 1.1 only") << QByteArray()
                                  << QByteArray("TLS: the client does not offer TLS 1.2 or newer");
}

void TestSnppdProgram::tlsRefusesClients() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, reason);
    RunningServer server(
        {"--tls-cert", pki_.path("server.pem"), "--tls-key", pki_.path("server.key"), "--verbose"});
    QVERIFY2(server.port != 0, server.err.constData());
    QVERIFY(server.err.contains("dazoroz-snppd: every connection speaks TLS\n"));
    if (bytes.isEmpty()) {
        const int fd = connectToLoopback(server.port);
        QVERIFY(fd >= 0);
        const auto closing = qScopeGuard([fd] { ::close(fd); });
        QVERIFY(!TlsPeer::client(TLS1_1_VERSION).handshake(fd));
    } else {
        TestClient client(server.port);
        client.send(bytes);
        QVERIFY(client.waitForClose());
        QVERIFY(!client.received().contains("220"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.err.contains("#1 ! " + reason + "\n"), waitMs);
}

// A TLS client that sends KeyUpdate requests without end and reads none of the answers gets no
// more of the server than any other: it is not read while the answers wait beyond the output
// limit, a second client gets its replies within a second, the idle limit ends the flood on
// time, and the server's memory stays within 2 MB of what it was when the flood began.
void TestSnppdProgram::tlsFloodingClient() {
    RunningServer server({"--tls-cert", pki_.path("server.pem"), "--tls-key",
                          pki_.path("server.key"), "--idle", "3", "--verbose"});
    QVERIFY2(server.port != 0, server.err.constData());
    const QStringList threads{LoadAdjustedTimer::thisThread(),
                              LoadAdjustedTimer::mainThreadOf(server.pid())};
    LoadAdjustedTimer sinceConnect(threads);
    const int flooding = connectToLoopback(server.port);
    QVERIFY(flooding >= 0);
    std::thread flood([flooding] {
        TlsPeer peer = TlsPeer::client();
        if (peer.handshake(flooding)) {
            peer.flood(flooding, TlsPeer::Records::KeyUpdate);
        }
    });
    const auto stop = qScopeGuard([&] {
        ::shutdown(flooding, SHUT_RDWR); // ends a send that waits
        flood.join();
        ::close(flooding);
    });
    QTRY_VERIFY_WITH_TIMEOUT(server.err.contains("#1 ! TLS handshake done\n"), waitMs);
    const qint64 memoryBefore = residentBytes(server.pid());
    qint64 mostMemory = memoryBefore;

    LoadAdjustedTimer served(threads);
    const int other = connectToLoopback(server.port);
    QVERIFY(other >= 0);
    const auto closing = qScopeGuard([other] { ::close(other); });
    TlsPeer client = TlsPeer::client();
    QVERIFY(client.handshake(other));
    QVERIFY(client.readLine(other).startsWith("220 "));
    QVERIFY(client.send(other, "PAGE 1\r\n"));
    QCOMPARE(client.readLine(other), QByteArray("250 Pager ID Accepted\r\n"));
    QVERIFY2(served.elapsedMs() <= 1000, qPrintable(QString::number(served.elapsedMs())));

    QTRY_VERIFY_WITH_TIMEOUT((mostMemory = std::max(mostMemory, residentBytes(server.pid())),
                              server.err.contains("#1 < 421 Timeout, Goodbye\n")),
                             2 * waitMs);
    QVERIFY2(sinceConnect.elapsedMs() <= 3000 + 500,
             qPrintable(QString::number(sinceConnect.elapsedMs())));
    QVERIFY2(!kResidentBytesTell || mostMemory - memoryBefore < 2 << 20,
             qPrintable(QStringLiteral("%1 bytes more").arg(mostMemory - memoryBefore)));
}

void TestSnppdProgram::runsAsUser() {
    if (::geteuid() != 0) {
        QSKIP("only root can start the server for another user");
    }
    RunningServer server({"--user", "nobody"});
    QVERIFY2(server.port != 0, server.err.constData());
    // By the time it listens, it has given root up for nobody's ids and groups, for good.
    const passwd* nobody = ::getpwnam("nobody");
    QVERIFY(nobody != nullptr);
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    QVERIFY(::getgrouplist("nobody", nobody->pw_gid, groups.data(), &count) >= 0);
    QStringList groupList;
    for (int i = 0; i < count; ++i) {
        groupList << QString::number(groups.at(static_cast<std::size_t>(i)));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(server.pid()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    QStringList ids;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("Uid:") || line.startsWith("Gid:") || line.startsWith("Groups:")) {
            ids << QString::fromUtf8(line.simplified());
        }
    }
    const QString uid = QString::number(nobody->pw_uid);
    const QString gid = QString::number(nobody->pw_gid);
    QCOMPARE(ids, (QStringList{QStringList{"Uid:", uid, uid, uid, uid}.join(' '),
                               QStringList{"Gid:", gid, gid, gid, gid}.join(' '),
                               "Groups: " + groupList.join(' ')}));
    QVERIFY(server.err.contains("dazoroz-snppd: running as user nobody (uid " + uid.toUtf8()));

    TestClient client(server.port);
    client.send("PAGE 1\r\nMESS Call home\r\nSEND\r\nQUIT\r\n");
    QVERIFY(client.waitForClose());
    QCOMPARE(client.codes(), QByteArray("220 250 250 250 221"));
    QTRY_COMPARE_WITH_TIMEOUT(server.out, QByteArray("page 1: Call home\n"), waitMs);
}

void TestSnppdProgram::givesUpCapabilities() {
    // A copy with cap_net_bind_service in its file capabilities, started by nobody, as the help
    // suggests: once listening, it holds no capability.
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setcap")).isEmpty()) {
        QSKIP("needs root and setcap (libcap2-bin), to give a copy of the program a capability");
    }
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("dazoroz-snppd"));
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ExeOther));
    QVERIFY(QFile::copy(QStringLiteral(SNPPD_PROGRAM), copy));
    if (QProcess::execute(QStringLiteral("setcap"), {"cap_net_bind_service=+ep", copy}) != 0) {
        QSKIP("setcap failed: the temporary folder's file system keeps no capabilities");
    }
    QProcess process;
    asNobody(process);
    process.start(copy, {"--user", "nobody", "--port", "0"});
    QByteArray err;
    QVERIFY(QTest::qWaitFor(
        [&] { return (err += process.readAllStandardError()).contains("listening on"); }, waitMs));
    QFile file(QStringLiteral("/proc/%1/status").arg(process.processId()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray status = file.readAll();
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) {
        QVERIFY2(status.contains(set + QByteArray(":\t0000000000000000\n")), set);
    }
    QVERIFY(status.contains("NoNewPrivs:\t1\n"));
}

void TestSnppdProgram::cannotBecomeUser() {
    // Not root (made so for the test when it runs as root): it cannot become another user, and
    // says so instead of serving as itself.
    QProcess process;
    if (::geteuid() == 0) {
        asNobody(process);
    }
    process.start(QStringLiteral(SNPPD_PROGRAM), {"--user", "daemon", "--port", "0"});
    QVERIFY(process.waitForFinished(waitMs));
    QCOMPARE(process.readAllStandardError(),
             QByteArray("dazoroz-snppd: cannot run as user daemon: setting its groups: Operation "
                        "not permitted\n"));
    QCOMPARE(process.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestSnppdProgram)
#include "test_program.moc"
