// dazoroz-snppd: a local SNPP server for trying Dazoroz without a paging service. Prints every
// delivered page as one line on standard output; everything else goes to standard error.

#include "net/error_texts.h"
#include "net/tls_session.h"
#include "snppd/run_as_user.h"
#include "snppd/same_secret.h"
#include "snppd/snpp_server.h"
#include "store/printable.h"
#include "store/secret_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

using dazoroz::snppd::ServerOptions;
using dazoroz::snppd::SnppServer;
using dazoroz::snppd::SplitMode;
using dazoroz::snppd::StepTrigger;
using dazoroz::snppd::SystemUser;

constexpr int exitUsage = 2;
constexpr int exitCannotListen = 1;
constexpr int exitCannotBecomeUser = 1;
constexpr int exitNoOpenSsl = 1;
// The longest text a MESS line holds.
const int maxTextLength = ServerOptions{}.maxLineLength - 5;

void printLine(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

[[noreturn]] void usageError(const QString& message) {
    // The message may quote the command line, which may hold anything.
    const std::string shown = dazoroz::store::printable(message.toStdString());
    printLine(stderr,
              QStringLiteral("dazoroz-snppd: %1 (see --help)").arg(QString::fromStdString(shown)));
    std::exit(exitUsage);
}

int intValue(const QCommandLineParser& parser, const QString& name, int low, int high) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
        usageError(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                       .arg(name)
                       .arg(low)
                       .arg(high)
                       .arg(parser.value(name)));
    }
    return value;
}

std::optional<StepTrigger> triggerValue(const QCommandLineParser& parser, const QString& name) {
    if (!parser.isSet(name)) {
        return std::nullopt;
    }
    auto trigger = dazoroz::snppd::parseStepTrigger(parser.value(name));
    if (!trigger) {
        usageError(QStringLiteral("--%1 wants greeting, page, mess, data, send or quit, optionally "
                                  "with :N for the N-th time, not \"%2\"")
                       .arg(name, parser.value(name)));
    }
    return trigger;
}

QString endpoint(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

QString listenFailure(const SnppServer& server, const QString& where) {
    QString reason;
    switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        reason = QStringLiteral("the port is already in use (another server listens there)");
        break;
    case QAbstractSocket::SocketAccessError:
        reason = QStringLiteral(
                     "permission denied: ports below 1024 need root, or the capability given by "
                     "\"setcap cap_net_bind_service=+ep %1\"; or choose a port of 1024 or more")
                     .arg(QCoreApplication::applicationFilePath());
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        reason = QStringLiteral("the address is not one of this machine's");
        break;
    default:
        reason = server.errorString();
        break;
    }
    return QStringLiteral("dazoroz-snppd: cannot listen on %1: %2").arg(where, reason);
}

bool hasControl(const QByteArray& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

QByteArray passwordFromFile(const QString& path) {
    const dazoroz::store::SecretLine read =
        dazoroz::store::readSecretLine(QFile::encodeName(path).toStdString());
    if (!read.ok()) {
        usageError(QStringLiteral("--password-file: cannot read \"%1\": %2")
                       .arg(path, QString::fromStdString(read.failure())));
    }
    if (read.line.empty()) {
        usageError(QStringLiteral("--password-file: the first line of \"%1\" is empty").arg(path));
    }
    return QByteArray::fromStdString(read.line);
}

// --login ID[:PASSWORD] and --password-file. No message quotes the password.
void loginOptions(const QCommandLineParser& parser, ServerOptions& options) {
    const bool fromFile = parser.isSet(QStringLiteral("password-file"));
    if (!parser.isSet(QStringLiteral("login"))) {
        if (fromFile) {
            usageError(QStringLiteral("--password-file goes with --login ID"));
        }
        return;
    }
    const QByteArray value = parser.value(QStringLiteral("login")).toUtf8();
    const qsizetype colon = value.indexOf(':');
    options.loginId = colon < 0 ? value : value.left(colon);
    if (options.loginId.isEmpty() || options.loginId.contains(' ') || hasControl(options.loginId)) {
        usageError(QStringLiteral("--login wants a login ID without blanks or control characters, "
                                  "optionally followed by :PASSWORD"));
    }
    if (colon >= 0) {
        if (fromFile) {
            usageError(
                QStringLiteral("--login ID:PASSWORD and --password-file exclude each other"));
        }
        options.loginPassword = value.mid(colon + 1);
    } else if (fromFile) {
        options.loginPassword = passwordFromFile(parser.value(QStringLiteral("password-file")));
    }
    if (options.loginPassword &&
        (options.loginPassword->isEmpty() || hasControl(*options.loginPassword))) {
        usageError(QStringLiteral("the password of --login is empty or holds control characters"));
    }
}

// --tls-cert and --tls-key: read before binding and before giving root up, like any key file.
void tlsOptions(const QCommandLineParser& parser, ServerOptions& options) {
    const bool cert = parser.isSet(QStringLiteral("tls-cert"));
    const bool key = parser.isSet(QStringLiteral("tls-key"));
    if (cert != key) {
        usageError(QStringLiteral("--tls-cert and --tls-key go together"));
    }
    if (!cert) {
        return;
    }
    int error = 0;
    options.tls = dazoroz::net::TlsContext::server(
        QFile::encodeName(parser.value(QStringLiteral("tls-cert"))).toStdString(),
        QFile::encodeName(parser.value(QStringLiteral("tls-key"))).toStdString(), error);
    if (!options.tls) {
        const QString option = error == dazoroz::net::kTlsKeyFile ? QStringLiteral("tls-key")
                                                                  : QStringLiteral("tls-cert");
        usageError(QStringLiteral("--%1 \"%2\": %3")
                       .arg(option, parser.value(option),
                            QString::fromLatin1(dazoroz::net::socketErrorDescription(error))));
    }
}

// Overwrites the password of --login ID:PASSWORD in the process's own arguments once it has been
// read, so that the process list no longer shows it.
void hidePassword(int argc, char* argv[]) {
    static constexpr std::string_view option = "--login";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        char* value = nullptr;
        if (argument == option && i + 1 < argc) {
            value = argv[i + 1];
        } else if (argument.substr(0, option.size() + 1) == "--login=") {
            value = argv[i] + option.size() + 1;
        }
        if (char* colon = value != nullptr ? std::strchr(value, ':') : nullptr) {
            std::memset(colon + 1, '*', std::strlen(colon + 1));
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dazoroz-snppd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DAZOROZ_VERSION));
    // A reader of our output that goes away must not take the server with it.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local SNPP server (RFC 1861, levels 1 and 2) for trying Dazoroz and for tests.\n"
        "Prints every delivered page on standard output as one line: \"page ID: message\".\n"
        "Steps for the test options: greeting, page, mess, data, send, quit; STEP:N means the\n"
        "N-th command of that kind on a connection (page:2 is the second PAGE)."));
    parser.addOptions({
        {QStringLiteral("address"),
         QStringLiteral("Listen on this IPv4 or IPv6 address: 127.0.0.1 (the default), ::1, "
                        "0.0.0.0, ..."),
         QStringLiteral("ADDR"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("port"),
         QStringLiteral("Listen on this port (default 444; 0: any free port)."),
         QStringLiteral("PORT"), QStringLiteral("444")},
        {QStringLiteral("banner"),
         QStringLiteral("Greet with \"220 \", STX and TEXT: the client scrolls it (40 characters "
                        "are shown)."),
         QStringLiteral("TEXT")},
        {QStringLiteral("idle"),
         QStringLiteral("Close a connection with 421 after this long without an "
                        "accepted command (default 60)."),
         QStringLiteral("SECONDS"), QStringLiteral("60")},
        {QStringLiteral("max-clients"),
         QStringLiteral("Refuse more simultaneous clients with 421 (default 64)."),
         QStringLiteral("N"), QStringLiteral("64")},
        {QStringLiteral("max-length"),
         QStringLiteral("Refuse a message text (of MESS or DATA) longer than N bytes with \"550 "
                        "Error, message too long; no more than N characters accepted.\" (1 to "
                        "%1; default %1).")
             .arg(maxTextLength),
         QStringLiteral("N")},
        {QStringLiteral("fail-pager"),
         QStringLiteral("Answer PAGE of this ID with 550 (repeatable)."), QStringLiteral("ID")},
        {QStringLiteral("fail-at"), QStringLiteral("Answer this step with 421 and close."),
         QStringLiteral("STEP")},
        {QStringLiteral("silent"), QStringLiteral("Never answer (not even a greeting).")},
        {QStringLiteral("silent-at"),
         QStringLiteral("Answer neither this step nor anything after it."), QStringLiteral("STEP")},
        {QStringLiteral("reset-at"),
         QStringLiteral("Reset the connection (TCP RST) instead of answering this step."),
         QStringLiteral("STEP")},
        {QStringLiteral("split"),
         QStringLiteral("Write each reply in two pieces: its first byte, then the rest.")},
        {QStringLiteral("byte-by-byte"), QStringLiteral("Write each reply one byte at a time.")},
        {QStringLiteral("split-delay"),
         QStringLiteral("Pause between the pieces of a reply (default 20)."), QStringLiteral("MS"),
         QStringLiteral("20")},
        {QStringLiteral("no-close"),
         QStringLiteral("Answer QUIT with 221 but keep the connection open.")},
        {QStringLiteral("login"),
         QStringLiteral("Require LOGIn with this login ID (and this password, when given) before "
                        "PAGE, MESS and SEND. A password here shows in the process list until "
                        "the server has read it: --password-file keeps it out."),
         QStringLiteral("ID[:PASSWORD]")},
        {QStringLiteral("password-file"),
         QStringLiteral("With --login ID: the password is the first line of FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("tls-cert"),
         QStringLiteral("Speak TLS (1.2 or newer) from the first byte of every connection, with "
                        "the certificate chain of this PEM file (the server's certificate "
                        "first). Needs --tls-key."),
         QStringLiteral("FILE")},
        {QStringLiteral("tls-key"),
         QStringLiteral("With --tls-cert: the certificate's private key, a PEM file."),
         QStringLiteral("FILE")},
        {QStringLiteral("user"),
         QStringLiteral("After binding the port, run as this user (not root; its user and group "
                        "ids and its groups): root starts the server on a port below 1024, then "
                        "gives root up."),
         QStringLiteral("NAME")},
        {QStringLiteral("verbose"), QStringLiteral("Log every line received and sent on stderr.")},
    });
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    if (!parser.parse(QCoreApplication::arguments())) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.'))) {
            error.chop(1);
        }
        usageError(error);
    }
    if (parser.isSet(helpOption)) {
        printLine(stdout, parser.helpText().trimmed());
        return EXIT_SUCCESS;
    }
    if (parser.isSet(versionOption)) {
        printLine(stdout, QStringLiteral("dazoroz-snppd %1").arg(QStringLiteral(DAZOROZ_VERSION)));
        return EXIT_SUCCESS;
    }
    if (!parser.positionalArguments().isEmpty()) {
        usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().front()));
    }

    QHostAddress address;
    QString addressText = parser.value(QStringLiteral("address"));
    if (addressText.startsWith(QLatin1Char('[')) && addressText.endsWith(QLatin1Char(']')) &&
        addressText.contains(QLatin1Char(':'))) {
        addressText = addressText.mid(1, addressText.size() - 2); // [::1] as in a URL
    }
    if (addressText.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        address = QHostAddress(QHostAddress::LocalHost);
    } else if (!address.setAddress(addressText)) {
        usageError(QStringLiteral("--address wants a numeric IPv4 or IPv6 address, not \"%1\"")
                       .arg(parser.value(QStringLiteral("address"))));
    }
    const auto port = static_cast<quint16>(intValue(parser, QStringLiteral("port"), 0, 65535));

    ServerOptions options;
    if (parser.isSet(QStringLiteral("banner"))) {
        options.banner = parser.value(QStringLiteral("banner")).toUtf8();
        if (hasControl(options.banner)) {
            usageError(QStringLiteral("--banner must not hold control characters"));
        }
    }
    options.idleTimeout =
        std::chrono::seconds(intValue(parser, QStringLiteral("idle"), 1, 24 * 60 * 60));
    options.maxClients = intValue(parser, QStringLiteral("max-clients"), 1, 1024);
    if (parser.isSet(QStringLiteral("max-length"))) {
        options.maxMessageLength = intValue(parser, QStringLiteral("max-length"), 1, maxTextLength);
    }
    for (const QString& id : parser.values(QStringLiteral("fail-pager"))) {
        options.failPagers.insert(id.toUtf8());
    }
    options.failAt = triggerValue(parser, QStringLiteral("fail-at"));
    options.resetAt = triggerValue(parser, QStringLiteral("reset-at"));
    options.silentAt = triggerValue(parser, QStringLiteral("silent-at"));
    if (parser.isSet(QStringLiteral("silent"))) {
        if (options.silentAt) {
            usageError(QStringLiteral("--silent and --silent-at exclude each other"));
        }
        options.silentAt = StepTrigger{};
    }
    if (parser.isSet(QStringLiteral("split")) && parser.isSet(QStringLiteral("byte-by-byte"))) {
        usageError(QStringLiteral("--split and --byte-by-byte exclude each other"));
    }
    if (parser.isSet(QStringLiteral("split"))) {
        options.split = SplitMode::TwoPieces;
    } else if (parser.isSet(QStringLiteral("byte-by-byte"))) {
        options.split = SplitMode::Bytes;
    }
    options.splitDelay =
        std::chrono::milliseconds(intValue(parser, QStringLiteral("split-delay"), 0, 10'000));
    options.noClose = parser.isSet(QStringLiteral("no-close"));
    options.trace = parser.isSet(QStringLiteral("verbose"));

    loginOptions(parser, options);
    hidePassword(argc, argv);
    if (!options.loginId.isEmpty() && !dazoroz::snppd::secretCheckAvailable()) {
        printLine(stderr, QStringLiteral("dazoroz-snppd: --login compares logins with OpenSSL, "
                                         "and its library (libssl3) cannot be loaded"));
        return exitNoOpenSsl;
    }
    tlsOptions(parser, options);

    std::optional<SystemUser> runAs;
    if (parser.isSet(QStringLiteral("user"))) {
        // Looked up before binding, so that a wrong name leaves no port taken.
        runAs = dazoroz::snppd::findUser(parser.value(QStringLiteral("user")).toStdString());
        if (!runAs) {
            usageError(QStringLiteral("--user: there is no user \"%1\" on this system")
                           .arg(parser.value(QStringLiteral("user"))));
        }
        if (runAs->uid == 0) {
            usageError(QStringLiteral("--user: \"%1\" is root, who keeps every privilege; name "
                                      "a user without them")
                           .arg(parser.value(QStringLiteral("user"))));
        }
    }

    SnppServer server(options);
    QObject::connect(&server, &SnppServer::pageDelivered, [](const dazoroz::snppd::Page& page) {
        const QByteArray line = dazoroz::snppd::pageLine(page);
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
        std::fflush(stdout);
    });
    QObject::connect(&server, &SnppServer::trace, [](const QString& line) {
        printLine(stderr, QStringLiteral("dazoroz-snppd: ") + line);
    });
    if (!server.listen(address, port)) {
        printLine(stderr, listenFailure(server, endpoint(address, port)));
        return exitCannotListen;
    }
    if (runAs) {
        const QString name = QString::fromStdString(runAs->name);
        if (const auto failure = dazoroz::snppd::becomeUser(*runAs)) {
            printLine(stderr, QStringLiteral("dazoroz-snppd: cannot run as user %1: %2")
                                  .arg(name, QString::fromStdString(*failure)));
            return exitCannotBecomeUser;
        }
        printLine(stderr, QStringLiteral("dazoroz-snppd: running as user %1 (uid %2, gid %3), "
                                         "process %4")
                              .arg(name)
                              .arg(runAs->uid)
                              .arg(runAs->gid)
                              .arg(QCoreApplication::applicationPid()));
    }
    // The port is bound: a capability given to the program file for it is of no more use.
    if (::geteuid() != 0) {
        if (const auto failure = dazoroz::snppd::dropCapabilities()) {
            printLine(stderr, QStringLiteral("dazoroz-snppd: cannot give up its capabilities: %1")
                                  .arg(QString::fromStdString(*failure)));
            return exitCannotBecomeUser;
        }
    }
    if (options.tls) {
        printLine(stderr, QStringLiteral("dazoroz-snppd: every connection speaks TLS"));
    }
    printLine(stderr, QStringLiteral("dazoroz-snppd: listening on %1")
                          .arg(endpoint(server.serverAddress(), server.serverPort())));
    return QCoreApplication::exec();
}
