#include "cli/command_line.h"

#include "cli/printable.h"
#include "cli/retry_schedule.h"
#include "cli/usage_error.h"
#include "net/error_texts.h"
#include "net/tls_session.h"
#include "sending/message_parts.h"
#include "store/names_list.h"
#include "store/secret_line.h"
#include "store/unicode_text.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <utility>

#include <unistd.h>

namespace dazoroz::cli {

namespace {

enum class Value {
    Message,
    Server,
    Port,
    Timeout,
    Login,
    PasswordFile,
    TlsCA,
    Split,
    Retry,
    RetryWait
};

struct OptionName {
    char shortName;
    const char* longName;
    Value value;
};

constexpr OptionName kValueOptions[] = {
    {'m', "message", Value::Message}, {'s', "server", Value::Server},
    {'p', "port", Value::Port},       {'t', "timeout", Value::Timeout},
    {'\0', "login", Value::Login},    {'\0', "password-file", Value::PasswordFile},
    {'\0', "tls-ca", Value::TlsCA},   {'\0', "split", Value::Split},
    {'\0', "retry", Value::Retry},    {'\0', "retry-wait", Value::RetryWait},
};

// The most further attempts --retry takes: at the longest wait, about a week of trying.
constexpr std::int32_t kMostRetries = 1000;

// Options without a value.
struct FlagName {
    const char* longName;
    bool CommandLine::*flag;
};

constexpr FlagName kFlagOptions[] = {
    {"tls", &CommandLine::tls},
    {"no-tls", &CommandLine::noTls},
    {"no-login", &CommandLine::noLogin},
    {"data-folder", &CommandLine::dataFolder},
};

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::int32_t wholeNumber(const std::string& option, const std::string& text, std::int32_t low,
                         std::int32_t high) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < low || value > high) {
        throw UsageError(option + " wants a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + printable(text) + "\"");
    }
    return value;
}

ServerOption serverOption(const std::string& option, const std::string& text) {
    const auto bad = [&] {
        return UsageError(option + " wants HOST or HOST:PORT ([ADDRESS]:PORT for IPv6), not \"" +
                          printable(text) + "\"");
    };
    if (text.empty()) {
        throw UsageError(option + " wants a host name or address, not an empty text");
    }
    std::size_t colon = std::string::npos; // before the port, if there is one
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) {
            throw bad();
        }
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                throw bad();
            }
            colon = close + 1;
        }
    } else if (text.find(':') == text.rfind(':')) {
        colon = text.find(':'); // more than one: a bare IPv6 address, no port
    }
    if (colon == std::string::npos) {
        return {text, std::nullopt};
    }
    if (colon == 0) {
        throw bad();
    }
    return {text.substr(0, colon), wholeNumber(option, text.substr(colon + 1), 1, 65535)};
}

void store(CommandLine& result, Value which, const std::string& option, const std::string& text) {
    switch (which) {
    case Value::Message:
        result.message = text;
        break;
    case Value::Server:
        result.servers.push_back(serverOption(option, text));
        break;
    case Value::Port:
        result.port = wholeNumber(option, text, 1, 65535);
        break;
    case Value::Timeout:
        result.timeout = wholeNumber(option, text, 0, std::numeric_limits<std::int32_t>::max());
        break;
    case Value::Login:
        // A blank would split it into an ID and a password on the server's side.
        if (text.empty() || !store::isLoginID(text)) {
            throw UsageError(option + " wants a login ID without blanks or control characters, " +
                             "not \"" + printable(text) + "\"");
        }
        result.login = text;
        break;
    case Value::PasswordFile:
        result.passwordFile = text;
        break;
    case Value::TlsCA:
        if (text.empty()) {
            throw UsageError(option + " wants a file name, not an empty text");
        }
        result.tlsCA = text;
        break;
    case Value::Split:
        result.split = wholeNumber(option, text, 0, std::numeric_limits<std::int32_t>::max());
        if (!sending::isMessageLimit(*result.split)) {
            throw UsageError(option + " wants 0 (never split) or a whole number of " +
                             std::to_string(sending::kMinMessageLimit) + " or more, not \"" +
                             printable(text) + "\"");
        }
        break;
    case Value::Retry:
        result.retries = wholeNumber(option, text, 0, kMostRetries);
        break;
    case Value::RetryWait:
        result.retryWait =
            wholeNumber(option, text, 0, static_cast<std::int32_t>(kLongestRetryWait.count()));
        break;
    }
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument.front() != '-') {
            result.recipients.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help" || argument == "-?") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (argument == "-v" || argument == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        const FlagName* flag = nullptr;
        for (const FlagName& f : kFlagOptions) {
            const std::string name = std::string("--") + f.longName;
            if (argument == name) {
                flag = &f;
            } else if (argument.starts_with(name + "=")) {
                throw UsageError(name + " takes no value");
            }
        }
        if (flag != nullptr) {
            result.*(flag->flag) = true;
            continue;
        }
        if (argument == "--history" || argument == "--no-history") {
            result.history = argument == "--history";
            continue;
        }
        if (argument == "--data" || argument == "--no-data") {
            result.data = argument == "--data";
            continue;
        }
        if (argument == "--failover" || argument == "--no-failover") {
            result.failover = argument == "--failover";
            continue;
        }

        const bool isLong = argument.starts_with("--");
        std::string name;
        std::optional<std::string> attached;
        if (isLong) {
            const std::size_t equals = argument.find('=');
            name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            if (equals != std::string::npos) {
                attached = argument.substr(equals + 1);
            }
        } else {
            name = argument.substr(1, 1);
            if (argument.size() > 2) {
                attached = argument.substr(2);
            }
        }
        const OptionName* found = nullptr;
        for (const OptionName& option : kValueOptions) {
            if (isLong ? name == option.longName
                       : option.shortName != '\0' && name.front() == option.shortName) {
                found = &option;
            }
        }
        const std::string shown = isLong ? "--" + name : "-" + name;
        if (found == nullptr) {
            throw UsageError("unknown option \"" + printable(isLong ? shown : argument) + "\"");
        }
        if (!attached) {
            if (i + 1 == arguments.size()) {
                throw UsageError(shown + " needs a value");
            }
            attached = arguments[++i];
        }
        store(result, found->value, shown, *attached);
    }
    if (result.noTls && (result.tls || result.tlsCA)) {
        throw UsageError(std::string("--no-tls and ") + (result.tlsCA ? "--tls-ca" : "--tls") +
                         " exclude each other");
    }
    if (result.noLogin && result.login) {
        throw UsageError("--no-login and --login exclude each other");
    }
    return result;
}

namespace {

std::string settingsHelp() {
    const std::string machine =
        (store::settingsLocations().machineDirectory / store::kSettingsFileName).string();
    return "The settings are read from $WINDIR/dazoroz.ini when WINDIR is set, otherwise from\n"
           "$XDG_CONFIG_HOME/dazoroz/dazoroz.ini (~/.config/dazoroz/dazoroz.ini) when it exists "
           "and\nonly you may change it and its folder, else from " +
           machine + ";\nwithout any, the server is 127.0.0.1, port 444, time-out 60 seconds.";
}

} // namespace

std::string helpText() {
    return R"(Usage: dazoroz-send [OPTIONS] RECIPIENT... [-m MESSAGE]
Sends one page to pagers over SNPP, as the Dazoroz window's Send button does.

A RECIPIENT is a pager ID (1 to 10 digits) or the name of an entry of names.txt in the
working directory, or with --data-folder in the desktop window's (the text before the comma, in
any letter case). Several recipients are
paged one after another over one connection. The message is MESSAGE, or else standard input
(without the line ends at its end); at most 999 characters, line breaks sent as blanks unless
--data keeps them.

Options:
  -m, --message TEXT     the message (default: read standard input)
  -s, --server HOST[:PORT]
                         paging server, host name or address, and its own port (default:
                         serverIP in dazoroz.ini); an IPv6 address with a port in brackets,
                         [::1]:444; given several times, tried in that order with fail-over
  -p, --port N           its TCP port, 1 to 65535 (default: serverPort in dazoroz.ini)
  -t, --timeout SECONDS  give up after this long, 0 for never (default: timeout in dazoroz.ini)
      --login ID         log in to the server with this ID first (default: loginID in
                         dazoroz.ini; none: no login)
      --password-file FILE
                         the login's password is the first line of FILE (default: the
                         environment variable DAZOROZ_PASSWORD, else password in dazoroz.ini)
      --tls              speak TLS to the server from the first byte, checking its certificate
                         (default: useTLS in dazoroz.ini)
      --tls-ca FILE      trust the CAs of this PEM file instead of the system's; implies --tls
                         (default: tlsCAFile in dazoroz.ini)
      --history          record the send in the history of sent pages (default:
                         keepHistory in dazoroz.ini)
      --no-history       do not record it, whatever dazoroz.ini says
      --split N          send a message longer than N bytes as numbered pages of at most N
                         bytes each, "(1/3) ...", "(2/3) ..."; N is 20 or more, 0 never splits
                         (default: messageLimit in dazoroz.ini, else 0)
      --data, --no-data  send the message with DATA, its line breaks kept, or with MESS, line
                         breaks as blanks (default: useData in dazoroz.ini, else MESS)
      --no-tls           a plain connection, whatever useTLS in dazoroz.ini says
      --no-login         no login, whatever loginID in dazoroz.ini says
      --data-folder      look names up in the names.txt of the window started from the desktop
                         menu, in $XDG_DATA_HOME/dazoroz (~/.local/share/dazoroz)
      --failover, --no-failover
                         when a server fails for a while, try the next one, or never (default:
                         failover in dazoroz.ini; on with several --server)
      --retry N          after a temporary failure on every server, try again up to N times
                         with the recipients not yet accepted (default: 0)
      --retry-wait SECONDS
                         wait before the first of them, doubled for each further one up to
                         600, spread by up to 10 % (default: 30)
  -h, --help             show this text
  -v, --version          show the version

)" + settingsHelp() +
           R"(

Output, one line each, as the window shows it:
  status: WORD       the status word as it changes (CONNECTING..., CONNECTED..., SUCCESS,
                     FAIL, CANCEL)
  log: LINE          a line of the send log ("Sending to: ...", "MESSAGE SENT OK", ...)
  statusbar: TEXT    the status bar (an error, or the server's failure reply)
  banner: TEXT       the server's banner from its greeting
Control characters are shown as \xNN. Errors go to standard error.

Exit status: 0 when every recipient was accepted (SUCCESS); 1 when a temporary failure
remains (no connection, a 4xx reply, the time-out) or the send is cancelled (Ctrl-C or SIGTERM,
as the Cancel button); 3 when a server refused a page for good (a 5xx reply); 2 on bad usage.

Examples:
  dazoroz-send 5551234 -m "Call the office"
  dazoroz-send ann bob 5551234 -m "Server room too hot"
  df -h / | tail -n 1 | dazoroz-send --server pager.example.org --port 444 ann
)";
}

std::string versionText() {
    return "dazoroz-send " DAZOROZ_VERSION "\n";
}

namespace {

std::string passwordFromFile(const std::string& file) {
    store::SecretLine read = store::readSecretLine(file);
    if (!read.ok())
        throw UsageError("--password-file: cannot read \"" + printable(file) +
                         "\": " + read.failure());
    if (hasLineBreak(read.line))
        throw UsageError("--password-file: the first line of \"" + printable(file) +
                         "\" holds a carriage return");
    return std::move(read.line);
}

} // namespace

std::optional<std::vector<sending::ServerAddress>> applyOptions(const CommandLine& commandLine,
                                                                store::Settings& settings,
                                                                const char* environmentPassword) {
    if (commandLine.login) {
        settings.loginID = *commandLine.login;
    }
    if (commandLine.passwordFile) {
        settings.password = passwordFromFile(*commandLine.passwordFile);
    } else if (environmentPassword != nullptr && *environmentPassword != '\0') {
        if (hasLineBreak(environmentPassword))
            throw UsageError("DAZOROZ_PASSWORD holds a line break");
        settings.password = environmentPassword;
    }
    if (commandLine.noLogin) {
        settings.loginID.clear();
        settings.password.clear();
    }
    if (commandLine.tls || commandLine.tlsCA) {
        settings.useTLS = true;
    }
    if (commandLine.noTls) {
        settings.useTLS = false;
        settings.tlsCAFile.clear();
    }
    if (commandLine.tlsCA) {
        if (::access(commandLine.tlsCA->c_str(), R_OK) != 0) {
            throw UsageError("--tls-ca: cannot read \"" + printable(*commandLine.tlsCA) + "\"");
        }
        // Loaded as the connection will load it: a file without a certificate fails here.
        int error = 0;
        if (!net::TlsContext::client(*commandLine.tlsCA, error) &&
            error == net::kTlsCAFileUnreadable) {
            throw UsageError("--tls-ca: \"" + printable(*commandLine.tlsCA) +
                             "\" holds no certificate that can be used");
        }
        settings.tlsCAFile = *commandLine.tlsCA;
    }
    if (commandLine.history) {
        settings.keepHistory = *commandLine.history;
    }
    if (commandLine.port) {
        settings.serverPort = *commandLine.port;
    }
    std::optional<std::vector<sending::ServerAddress>> further;
    if (!commandLine.servers.empty()) {
        // Cut to 16 bits as serverPort is; an option's own port is 1 to 65535 already.
        const auto usualPort = static_cast<std::uint16_t>(settings.serverPort);
        further.emplace();
        for (auto it = commandLine.servers.begin() + 1; it != commandLine.servers.end(); ++it) {
            further->push_back(
                {it->host, static_cast<std::uint16_t>(it->port.value_or(usualPort))});
        }
        const ServerOption& first = commandLine.servers.front();
        settings.serverAddress = first.host;
        if (first.port) {
            settings.serverPort = *first.port;
        }
    }
    if (commandLine.failover) {
        settings.failover = *commandLine.failover;
    } else if (commandLine.servers.size() > 1) {
        settings.failover = true;
    }
    if (commandLine.timeout) {
        settings.sendTimeout = *commandLine.timeout;
    }
    if (commandLine.split) {
        settings.messageLimit = *commandLine.split;
    }
    if (commandLine.data) {
        settings.useData = *commandLine.data;
    }
    const std::string file = store::settingsFilePath().string();
    if (settings.serverAddress.empty()) {
        throw UsageError("no server address: serverIP in " + printable(file) +
                         " is empty; give one with --server");
    }
    if (settings.serverPort <= 0) {
        throw UsageError("no usable server port: serverPort in " + printable(file) + " is " +
                         std::to_string(settings.serverPort) + "; give one with --port");
    }
    if (!store::isLoginID(settings.loginID)) {
        throw UsageError("loginID in " + printable(file) +
                         " holds a blank or a control character; give one with --login");
    }
    return further;
}

std::filesystem::path namesFile(const CommandLine& commandLine) {
    if (!commandLine.dataFolder) {
        return store::kNamesFileName;
    }
    const char* xdgDataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path folder = store::userDataFolder(
        xdgDataHome != nullptr ? xdgDataHome : "", home != nullptr ? home : "");
    if (folder.empty()) {
        throw UsageError("--data-folder: neither XDG_DATA_HOME nor HOME names a folder");
    }
    return folder / store::kNamesFileName;
}

std::string checkedMessage(std::string message, bool fromInput) {
    if (fromInput) {
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
    }
    if (message.empty()) {
        throw UsageError(fromInput ? "the message read from standard input is empty"
                                   : "the message is empty");
    }
    if (message.find('\0') != std::string::npos) {
        // A server written in C would take it for the end of the message and cut it short.
        throw UsageError("the message holds a NUL byte, which a page cannot carry");
    }
    // Counted as the window's message field counts it.
    const std::size_t length = store::fieldLength(message);
    if (length > static_cast<std::size_t>(kMaxMessageLength)) {
        throw UsageError("the message has " + std::to_string(length) +
                         " characters; a page holds at most " + std::to_string(kMaxMessageLength));
    }
    return message;
}

} // namespace dazoroz::cli
