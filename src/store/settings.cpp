#include "settings.h"

#include <cstdlib>

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

std::filesystem::path settingsFilePath() { return settingsDirectory() / kSettingsFileName; }

// Placeholder until the INI reader and writer land: defaults only, nothing written.
void loadSettings(Settings& s) {
    s = Settings{};
    s.serverAddress = "127.0.0.1";
    s.serverPort = 444;
    s.sendTimeout = 60;
    s.standardMessages = {"Click the \"Configure\" button to set these messages",
                          "Call home",
                          "Call the office",
                          "Call me",
                          "I love you",
                          "See you soon",
                          "Break a leg",
                          "Don't call"};
}

void saveSettings(const Settings&) {}

} // namespace dazoroz::store
