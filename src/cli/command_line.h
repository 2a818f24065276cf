#pragma once

#include "sending/send_logic.h"
#include "store/settings.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dazoroz::cli {

// A --server value: HOST, HOST:PORT, or an IPv6 address, bare or in brackets ([::1]:444 when a
// port follows; a bare one is a host alone).
struct ServerOption {
    std::string host;
    std::optional<std::int32_t> port; // none: --port, else serverPort
};

// What the command line asks for. Arguments are taken as the bytes they are (UTF-8 in
// practice), so that no message or name is changed on its way to the server.
struct CommandLine {
    enum class Action { Send, Help, Version };

    Action action = Action::Send;
    std::vector<std::string> recipients;
    std::optional<std::string> message; // none: read it from standard input
    std::vector<ServerOption> servers;  // --server, in the order given
    std::optional<std::int32_t> port;
    std::optional<std::int32_t> timeout;
    std::optional<std::string> login;
    std::optional<std::string> passwordFile;
    bool tls = false;                  // --tls
    std::optional<std::string> tlsCA;  // --tls-ca FILE, which implies --tls
    bool noTls = false;                // --no-tls: the settings' TLS off for this run
    bool noLogin = false;              // --no-login: the settings' login off for this run
    bool dataFolder = false;           // --data-folder: names.txt of the desktop menu's window
    std::optional<bool> history;       // --history, --no-history: the last one given
    std::optional<std::int32_t> split; // --split N: messageLimit for this run
    std::optional<bool> data;          // --data / --no-data: useData for this run
    std::optional<bool> failover;      // --failover / --no-failover: failover for this run
    std::int32_t retries = 0;          // --retry N: further attempts after a temporary failure
    std::int32_t retryWait = 30;       // --retry-wait SECONDS: before the first of them
};

// The arguments after the program name. Throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string helpText();
std::string versionText();

// The options' values over the settings read from dazoroz.ini; throws UsageError when the
// result cannot make a send (an empty server address, a port of 0 or less), where the window
// would silently not start. The password comes from the first line of --password-file, else
// from `environmentPassword` ($DAZOROZ_PASSWORD) when it is set and not empty, else from the
// settings; never from an option's value, which others could read in the process list.
// --tls and --tls-ca turn TLS on; a CA file that cannot be read or holds no certificate is a
// usage error. --no-tls and --no-login turn the settings' TLS and login (with its password) off.
// --history and --no-history set keepHistory; --split and --data / --no-data stand for
// messageLimit and useData. The first --server is serverIP (with its own port, when it has one,
// as serverPort); more than one turns failover on unless --no-failover says otherwise.
// Returns the servers after the first for this run, in place of serverIP1..3: those of the
// further --server options, each at its own port or else at --port or serverPort; none
// without --server.
std::optional<std::vector<sending::ServerAddress>>
applyOptions(const CommandLine& commandLine, store::Settings& settings,
             const char* environmentPassword = nullptr);

// The names file that recipients' names are looked up in: names.txt in the working directory,
// or with --data-folder in the folder where the window started from the desktop menu keeps it
// ($XDG_DATA_HOME/dazoroz, see store::userDataFolder). Throws UsageError when there is none.
std::filesystem::path namesFile(const CommandLine& commandLine);

// The window's message field holds at most this many characters.
inline constexpr int kMaxMessageLength = 999;

// The message to send: one read from standard input loses its line end (every trailing CR and
// LF). Throws UsageError when it is empty, too long or holds a NUL byte.
std::string checkedMessage(std::string message, bool fromInput);

} // namespace dazoroz::cli
