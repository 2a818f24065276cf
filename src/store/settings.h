#pragma once

#include "store/file_io.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace dazoroz::store {

// The program's settings. Array index 0 holds the first entry: serverHistory[0] is
// "serverIP1", standardMessages[0] is "message1".
struct Settings {
    std::string serverAddress;                   // "serverIP"
    std::array<std::string, 3> serverHistory;    // "serverIP1".."serverIP3", never written
    std::int32_t serverPort = 0;                 // "serverPort"
    std::int32_t sendTimeout = 0;                // "timeout", seconds; <= 0 means none
    std::array<std::string, 8> standardMessages; // "message1".."message8"
};

// The one record of the running program.
Settings& settings();

inline constexpr const char* kSettingsFileName = "dazoroz.ini";
inline constexpr const char* kSettingsSection = "General";

// Directory that holds dazoroz.ini: $WINDIR when set and not empty, otherwise the directory
// chosen at build time. The working directory never matters.
std::filesystem::path settingsDirectory();
std::filesystem::path settingsFilePath();

// Raised by saveSettings when a key cannot be written; the message is
// "Unable to write to dazoroz.ini".
class SettingsWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills every field from the file, or with its default. Never fails.
void loadSettings(Settings& s = settings());
// Writes serverIP, serverPort, timeout, message1..message8 in that order, each at once.
// Throws SettingsWriteError on the first key that cannot be written.
void saveSettings(const Settings& s = settings());
// The same through the given system calls (tests make them fail).
void saveSettings(const Settings& s, FileOps& ops);

} // namespace dazoroz::store
