#include "settings.h"

#include "ini_file.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace dazoroz::store {

Settings& settings() {
    static Settings instance;
    return instance;
}

std::filesystem::path settingsDirectory() {
    if (const char* dir = std::getenv("WINDIR"); dir != nullptr && *dir != '\0')
        return dir;
    return DAZOROZ_SETTINGS_DIR;
}

std::filesystem::path settingsFilePath() {
    return settingsDirectory() / kSettingsFileName;
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

} // namespace

void loadSettings(Settings& s) {
    const IniDocument ini = readIniFile(settingsFilePath());
    const std::string_view section = kSettingsSection;
    s.serverAddress = readProfileString(ini, section, "serverIP", "127.0.0.1");
    s.serverPort = readProfileInt(ini, section, "serverPort", 444);
    for (std::size_t i = 0; i < s.serverHistory.size(); ++i)
        s.serverHistory[i] = readProfileString(ini, section, numbered("serverIP", i + 1), "");
    s.sendTimeout = readProfileInt(ini, section, "timeout", 60);
    for (std::size_t i = 0; i < s.standardMessages.size(); ++i)
        s.standardMessages[i] =
            readProfileString(ini, section, numbered("message", i + 1), kDefaultMessages[i]);
}

void saveSettings(const Settings& s, FileOps& ops) {
    const std::filesystem::path file = settingsFilePath();
    const auto write = [&](std::string_view key, std::string_view value) {
        if (!writeProfileString(file, kSettingsSection, key, value, ops))
            throw SettingsWriteError(std::string("Unable to write to ") + kSettingsFileName);
    };
    write("serverIP", s.serverAddress);
    write("serverPort", std::to_string(s.serverPort));
    write("timeout", std::to_string(s.sendTimeout));
    for (std::size_t i = 0; i < s.standardMessages.size(); ++i)
        write(numbered("message", i + 1), s.standardMessages[i]);
}

void saveSettings(const Settings& s) {
    saveSettings(s, systemFileOps());
}

} // namespace dazoroz::store
