#include "settings.h"

#include "ini_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace dazoroz::store {

Settings& settings() {
    static Settings instance;
    return instance;
}

namespace fs = std::filesystem;

namespace {

constexpr const char* kUserFolder = "dazoroz";
constexpr const char* kLoginKey = "loginID";
constexpr const char* kPasswordKey = "password";
constexpr const char* kUseTlsKey = "useTLS";
constexpr const char* kCAFileKey = "tlsCAFile";
constexpr const char* kKeepHistoryKey = "keepHistory";
constexpr const char* kMessageLimitKey = "messageLimit";
constexpr const char* kUseDataKey = "useData";
constexpr const char* kFailoverKey = "failover";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// An absolute path from the environment, or empty.
fs::path absoluteFrom(const char* name) {
    fs::path dir = environment(name);
    return dir.is_absolute() ? dir : fs::path();
}

} // namespace

SettingsLocations settingsLocations() {
    SettingsLocations where;
    where.windowsDirectory = environment("WINDIR");
    fs::path config = absoluteFrom("XDG_CONFIG_HOME");
    if (config.empty()) {
        if (const fs::path home = absoluteFrom("HOME"); !home.empty())
            config = home / ".config";
    }
    if (!config.empty())
        where.userDirectory = config / kUserFolder;
    where.machineDirectory = DAZOROZ_SETTINGS_DIR;
    return where;
}

namespace {

// The file to read, as a document, and why the user's own file was passed over (empty when it
// was not).
struct ChosenFile {
    fs::path path;
    IniDocument ini;
    std::string passedOver;
};

ChosenFile chooseSettingsFile(const SettingsLocations& where) {
    if (!where.windowsDirectory.empty()) {
        const fs::path file = where.windowsDirectory / kSettingsFileName;
        return {file, readIniFile(file), {}};
    }
    std::string passedOver;
    if (!where.userDirectory.empty()) {
        const fs::path user = where.userDirectory / kSettingsFileName;
        std::error_code ec;
        if (fs::exists(fs::symlink_status(user, ec))) {
            std::string refusal;
            IniDocument ini = readIniFile(user, systemFileOps(), FileTrust::OwnOnly, &refusal);
            if (refusal.empty())
                return {user, std::move(ini), {}};
            passedOver = user.string() + " ignored: " + refusal;
        }
    }
    const fs::path machine = where.machineDirectory / kSettingsFileName;
    return {machine, readIniFile(machine), std::move(passedOver)};
}

} // namespace

fs::path settingsFilePath(const SettingsLocations& where) {
    return chooseSettingsFile(where).path;
}

bool isLoginID(std::string_view id) {
    return std::none_of(id.begin(), id.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7f;
    });
}

namespace {

constexpr std::array<const char*, 8> kDefaultMessages = {
    "Click the \"Configure\" button to set these messages",
    "Call home",
    "Call the office",
    "Call me",
    "I love you",
    "See you soon",
    "Break a leg",
    "Don't call"};

std::string numbered(const char* stem, std::size_t n) {
    return stem + std::to_string(n);
}

// Makes `dir` and any missing parent, each 0700; true when it is a directory in the end.
bool makePrivateDirectories(const fs::path& dir) {
    fs::path path;
    for (const fs::path& part : dir) {
        path /= part;
        if (::mkdir(path.c_str(), 0700) == 0)
            ::chmod(path.c_str(), 0700); // exactly, whatever the umask
        else if (errno != EEXIST)
            return false;
    }
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// The user's own file, ready for its keys: on the first save the folder is made and the file
// starts as a copy of the machine-wide one (empty when there is none, or it cannot be read).
bool prepareUserFile(const SettingsLocations& where, const fs::path& file, FileOps& ops) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(file, ec)))
        return true;
    if (!makePrivateDirectories(where.userDirectory))
        return false;
    std::string bytes;
    if (readWholeFile(where.machineDirectory / kSettingsFileName, bytes, ops) !=
        ReadResult::Complete)
        bytes.clear();
    return replaceFile(file, bytes, ops, FileAccess::OwnerOnly, FileTrust::OwnOnly);
}

} // namespace

std::string loadSettings(Settings& s, const SettingsLocations& where) {
    ChosenFile chosen = chooseSettingsFile(where);
    const IniDocument& ini = chosen.ini;
    const std::string_view section = kSettingsSection;
    s.serverAddress = readProfileString(ini, section, "serverIP", "127.0.0.1");
    s.serverPort = readProfileInt(ini, section, "serverPort", 444);
    for (std::size_t i = 0; i < s.serverHistory.size(); ++i)
        s.serverHistory[i] = readProfileString(ini, section, numbered("serverIP", i + 1), "");
    s.sendTimeout = readProfileInt(ini, section, "timeout", 60);
    for (std::size_t i = 0; i < s.standardMessages.size(); ++i)
        s.standardMessages[i] =
            readProfileString(ini, section, numbered("message", i + 1), kDefaultMessages[i]);
    s.loginID = readProfileString(ini, section, kLoginKey, "");
    s.password = readProfileString(ini, section, kPasswordKey, "");
    s.useTLS = readProfileInt(ini, section, kUseTlsKey, 0) != 0;
    s.tlsCAFile = readProfileString(ini, section, kCAFileKey, "");
    s.keepHistory = readProfileInt(ini, section, kKeepHistoryKey, 0) != 0;
    s.messageLimit = readProfileInt(ini, section, kMessageLimitKey, 0);
    s.useData = readProfileInt(ini, section, kUseDataKey, 0) != 0;
    s.failover = readProfileInt(ini, section, kFailoverKey, 0) != 0;
    return std::move(chosen.passedOver);
}

namespace {

// The file that saveSettings writes, and how far it is trusted: WINDIR's file is the one the
// user named (it may be shared, and is trusted as it is), else the user's own.
std::pair<fs::path, FileTrust> writtenFile(const SettingsLocations& where) {
    if (!where.windowsDirectory.empty())
        return {where.windowsDirectory / kSettingsFileName, FileTrust::Any};
    if (where.userDirectory.empty())
        return {};
    return {where.userDirectory / kSettingsFileName, FileTrust::OwnOnly};
}

} // namespace

void saveSettings(const Settings& s, const SettingsLocations& where, FileOps& ops,
                  PasswordIn password) {
    const auto fail = [] {
        return SettingsWriteError(std::string("Unable to write to ") + kSettingsFileName);
    };
    const auto target = writtenFile(where);
    const fs::path& file = target.first;
    const FileTrust trust = target.second;
    if (file.empty())
        throw fail();
    if (trust == FileTrust::OwnOnly && !prepareUserFile(where, file, ops))
        throw fail();
    std::string refusal;
    const IniDocument before = readIniFile(file, ops, trust, &refusal);
    if (!refusal.empty())
        throw fail(); // before the first key: nothing is written
    const auto inFile = [&](const char* key) {
        return before.value(kSettingsSection, key);
    };
    const bool secret = (password == PasswordIn::File && !s.password.empty()) ||
                        !inFile(kPasswordKey).value_or("").empty();
    const auto write = [&](std::string_view key, std::string_view value) {
        if (!writeProfileString(file, kSettingsSection, key, value, ops,
                                secret ? FileAccess::OwnerOnly : FileAccess::Keep, trust))
            throw fail();
    };
    write("serverIP", s.serverAddress);
    write("serverPort", std::to_string(s.serverPort));
    write("timeout", std::to_string(s.sendTimeout));
    for (std::size_t i = 0; i < s.standardMessages.size(); ++i)
        write(numbered("message", i + 1), s.standardMessages[i]);
    if (!s.loginID.empty() || inFile(kLoginKey))
        write(kLoginKey, s.loginID);
    if (password == PasswordIn::File && (!s.password.empty() || inFile(kPasswordKey)))
        write(kPasswordKey, s.password);
    if (s.useTLS || inFile(kUseTlsKey))
        write(kUseTlsKey, s.useTLS ? "1" : "0");
    if (!s.tlsCAFile.empty() || inFile(kCAFileKey))
        write(kCAFileKey, s.tlsCAFile);
    if (s.keepHistory || inFile(kKeepHistoryKey))
        write(kKeepHistoryKey, s.keepHistory ? "1" : "0");
    if (s.messageLimit != 0 || inFile(kMessageLimitKey))
        write(kMessageLimitKey, std::to_string(s.messageLimit));
    if (s.useData || inFile(kUseDataKey))
        write(kUseDataKey, s.useData ? "1" : "0");
    if (s.failover || inFile(kFailoverKey))
        write(kFailoverKey, s.failover ? "1" : "0");
}

bool forgetPassword(const SettingsLocations& where, FileOps& ops) {
    const auto [file, trust] = writtenFile(where);
    return !file.empty() && removeProfileKey(file, kSettingsSection, kPasswordKey, ops,
                                             FileAccess::OwnerOnly, trust);
}

} // namespace dazoroz::store
