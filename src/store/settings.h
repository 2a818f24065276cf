#pragma once

#include "store/file_io.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dazoroz::store {

// The program's settings. Array index 0 holds the first entry: serverHistory[0] is
// "serverIP1", standardMessages[0] is "message1".
struct Settings {
    std::string serverAddress;                   // "serverIP"
    std::array<std::string, 3> serverHistory;    // "serverIP1".."serverIP3", never written
    std::int32_t serverPort = 0;                 // "serverPort"
    std::int32_t sendTimeout = 0;                // "timeout", seconds; <= 0 means none
    std::array<std::string, 8> standardMessages; // "message1".."message8"
    std::string loginID;      // "loginID": empty for servers without a login (no LOGI is sent)
    std::string password;     // "password": sent with the login ID when not empty
    bool useTLS = false;      // "useTLS": 0 or 1; the connection speaks TLS from its first byte
    std::string tlsCAFile;    // "tlsCAFile": PEM file of the CAs to trust instead of the system's
    bool keepHistory = false; // "keepHistory": 0 or 1; every page is recorded in the history
    // "messageLimit": a message longer than this many bytes goes as numbered parts; 0 (or
    // less) never splits
    std::int32_t messageLimit = 0;
    bool useData = false; // "useData": 0 or 1; the message goes with DATA, its line breaks kept
    // "failover": 0 or 1; a server that fails for a while hands the send on to serverIP1..3
    bool failover = false;
};

// The one record of the running program.
Settings& settings();

inline constexpr const char* kSettingsFileName = "dazoroz.ini";
inline constexpr const char* kSettingsSection = "General";

// Where dazoroz.ini may live. The working directory never matters.
struct SettingsLocations {
    std::filesystem::path windowsDirectory; // when not empty: the one file, read and written
    std::filesystem::path userDirectory;    // the user's own file; empty when there is none
    std::filesystem::path machineDirectory; // the administrator's defaults, only read
};

// From the environment: $WINDIR; $XDG_CONFIG_HOME/dazoroz, or ~/.config/dazoroz when
// XDG_CONFIG_HOME is unset or empty (a relative path in either variable counts as unset); and
// the machine-wide directory chosen at build time.
SettingsLocations settingsLocations();

// The file that is read: WINDIR's; otherwise the user's own when it exists and is the user's
// own alone (see FileTrust::OwnOnly: another user could have planted its server), else the
// machine-wide one.
std::filesystem::path settingsFilePath(const SettingsLocations& where = settingsLocations());

// Raised by saveSettings when a key cannot be written; the message is
// "Unable to write to dazoroz.ini".
class SettingsWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills every field from the file, or with its default. Never fails. Returns, in one line, why
// the user's own file was passed over for the machine-wide one ("<file> ignored: another user
// owns it"); empty when it was not.
std::string loadSettings(Settings& s = settings(),
                         const SettingsLocations& where = settingsLocations());

// A login ID goes out as one word of the LOGI command: it holds no blank and no control
// character. The empty ID (no login) passes.
bool isLoginID(std::string_view id);
inline constexpr const char* kBadLoginIDText =
    "The login ID may not hold blanks or control characters";

// Writes serverIP, serverPort, timeout, message1..message8, then loginID, password, useTLS,
// tlsCAFile, keepHistory, messageLimit, useData and failover, in that order, each at once, to
// WINDIR's file or else to the user's own. The last eight are written only when set (useTLS,
// keepHistory, useData, failover: on; messageLimit: not 0) or already in the file, so that a file
// without them keeps eleven keys. serverIP1..serverIP3 are never written.
// A file that holds a password, or is about to, is written with mode 0600, belongs to the user
// who saves it and is never written through a symbolic link. The user's own folder and file are
// written only when they are the user's own alone (as settingsFilePath reads them). The user's
// first save makes the folder (0700, with any missing parents) and the file (0600) as a copy of
// the machine-wide file, if there is one, so that everything else in it carries over. Throws
// SettingsWriteError on the first key that cannot be written, or when there is no user folder,
// it cannot be made, or it or the file is refused; nothing is written then.
// With PasswordIn::Elsewhere (the window keeps it in the desktop keyring) the password key is
// neither written nor removed: forgetPassword removes it once the password is safe elsewhere.
enum class PasswordIn { File, Elsewhere };
void saveSettings(const Settings& s = settings(),
                  const SettingsLocations& where = settingsLocations(),
                  FileOps& ops = systemFileOps(), PasswordIn password = PasswordIn::File);

// Removes the password from the file that saveSettings writes (every "password" key of the
// section); the file is otherwise left as it is, a file without one untouched. False when it
// could not be written (or is refused as saveSettings would refuse it).
bool forgetPassword(const SettingsLocations& where = settingsLocations(),
                    FileOps& ops = systemFileOps());

} // namespace dazoroz::store
