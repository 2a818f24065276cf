#include "store/settings.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <tuple>

namespace fs = std::filesystem;
using namespace dazoroz::store;
using namespace dazoroz::store::test_support;

namespace {

using namespace std::string_literals;

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

void expectSame(const Settings& a, const Settings& b) {
    const auto fields = [](const Settings& s) {
        return std::tie(s.serverAddress, s.serverHistory, s.serverPort, s.sendTimeout,
                        s.standardMessages, s.loginID, s.password, s.useTLS, s.tlsCAFile);
    };
    EXPECT_EQ(fields(a), fields(b));
}

// Every test names a WINDIR directory of its own: the real settings are never touched.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = freshTestDirectory();
        where_ = {dir_, {}, {}};
        defaults_ = loaded(); // no file yet
    }

    fs::path ini() const { return dir_ / "dazoroz.ini"; }
    Settings loaded() const {
        Settings s;
        loadSettings(s, where_);
        return s;
    }
    void save(const Settings& s) const { saveSettings(s, where_); }
    static Settings sample() {
        Settings s;
        s.serverAddress = "pager.example";
        s.serverPort = 4444;
        s.sendTimeout = -5;
        for (std::size_t i = 0; i < 8; ++i)
            s.standardMessages[i] = "msg " + std::to_string(i + 1);
        return s;
    }

    fs::path dir_;
    SettingsLocations where_;
    Settings defaults_;
};

// A file without the keys gives what no file gives; loading leaves nothing of the old record.
TEST_F(SettingsFile, NoFileOrNoKeysGiveTheDefaults) {
    Settings s = sample();
    s.serverHistory[1] = "stale";
    loadSettings(s, where_);
    EXPECT_TRUE(listDirectory(dir_).empty());
    writeFile(ini(), "[General]\nother=1\n");
    expectSame(s, loaded());
}

TEST_F(SettingsFile, ReadsTheFileInWindirNotTheWorkingDirectory) {
    writeFile("dazoroz.ini", "[General]\nserverIP=wrong\n"); // the working directory
    writeFile(ini(),
              "[general]\r\nSERVERIP=\r\nserverIP1=a\r\nserverIP3= c \r\nserverPort='0x1BC'\r\n"
              "timeout=abc\r\nmessage2=\r\nmessage8=\"Bye\"\r\n");
    Settings want = defaults_;
    want.serverAddress = ""; // present but empty: not the default
    want.serverHistory = {"a", "", "c"};
    want.serverPort = 444;
    want.standardMessages[1] = "";
    want.standardMessages[7] = "Bye";
    expectSame(loaded(), want);
    fs::remove("dazoroz.ini");
}

TEST_F(SettingsFile, SaveOnAMachineWithoutTheFileWritesElevenKeysInOrder) {
    Settings s = sample();
    s.serverHistory = {"h1", "h2", "h3"}; // never written
    save(s);
    EXPECT_EQ(readFile(ini()), "[General]\nserverIP=pager.example\nserverPort=4444\ntimeout=-5\n"
                               "message1=msg 1\nmessage2=msg 2\nmessage3=msg 3\nmessage4=msg 4\n"
                               "message5=msg 5\nmessage6=msg 6\nmessage7=msg 7\nmessage8=msg 8\n");
    s.serverHistory = {};
    expectSame(loaded(), s);
}

TEST_F(SettingsFile, SavesLeaveEverythingElseByteForByte) {
    writeFile(ini(), "; settings\r\n[Other]\r\nserverIP=elsewhere\r\n\r\n"
                     "[General]\r\nserverIP1=one\r\n  timeout = 5 \r\nserverIP2=two\r\n"
                     "message3=old\r\nserverIP3=three\r\n\r\n[Last]\r\nx=1\r\n");
    Settings s = loaded();
    s.serverAddress = "two";
    s.sendTimeout = 30;
    s.standardMessages[2] = "new";
    save(s);
    save(s); // any number of confirmations
    std::string want = "; settings\r\n[Other]\r\nserverIP=elsewhere\r\n\r\n"
                       "[General]\r\nserverIP1=one\r\n  timeout = 30 \r\nserverIP2=two\r\n"
                       "message3=new\r\nserverIP3=three\r\nserverIP=two\r\nserverPort=444\r\n";
    for (std::size_t i : {0u, 1u, 3u, 4u, 5u, 6u, 7u})
        want += "message" + std::to_string(i + 1) + "=" + defaults_.standardMessages[i] + "\r\n";
    want += "\r\n[Last]\r\nx=1\r\n";
    EXPECT_EQ(readFile(ini()), want);
    const Settings back = loaded();
    EXPECT_EQ(back.serverHistory, (std::array<std::string, 3>{"one", "two", "three"}));
    expectSame(back, s);
}

// The login keys are written once set, and then kept (emptied, not removed); a file that holds
// a password, or held one, is written readable by its owner only.
TEST_F(SettingsFile, LoginKeysOnceSetAndAPasswordKeepsTheFilePrivate) {
    writeFile(ini(), "[General]\nx=1\n");
    ASSERT_EQ(::chmod(ini().c_str(), 0644), 0);
    Settings s = sample();
    save(s);
    EXPECT_EQ(readFile(ini()).find("login"), std::string::npos);
    EXPECT_EQ(modeOf(ini()), 0644u);
    s.loginID = "ann";
    s.password = " pass word ";
    save(s);
    EXPECT_TRUE(
        readFile(ini()).ends_with("message8=msg 8\nloginID=ann\npassword=\" pass word \"\n"));
    EXPECT_EQ(modeOf(ini()), 0600u);
    expectSame(loaded(), s);
    s.loginID.clear();
    s.password.clear();
    save(s);
    EXPECT_TRUE(readFile(ini()).ends_with("loginID=\npassword=\n"));
    EXPECT_EQ(modeOf(ini()), 0600u);
    expectSame(loaded(), s);
}

// A password kept elsewhere (the window's keyring) is neither written nor removed by a save;
// forgetPassword takes every line of it (a duplicate would count next) out of the file, and
// nothing else.
TEST_F(SettingsFile, APasswordKeptElsewhereStaysUntilForgotten) {
    writeFile(ini(), "[General]\npassword=old\nx=1\nPASSWORD=older\n[Other]\npassword=keep");
    Settings s = sample();
    s.password = "new";
    saveSettings(s, where_, systemFileOps(), PasswordIn::Elsewhere);
    EXPECT_EQ(loaded().password, "old");
    EXPECT_EQ(modeOf(ini()), 0600u);
    EXPECT_TRUE(forgetPassword(where_));
    EXPECT_EQ(loaded().password, "");
    const std::string bytes = readFile(ini());
    EXPECT_TRUE(bytes.starts_with("[General]\nx=1\nserverIP=pager.example\n")) << bytes;
    EXPECT_TRUE(bytes.ends_with("msg 8\n[Other]\npassword=keep")) << bytes;
}

// The TLS keys likewise: absent until TLS or a CA file is set, then kept. Only a number other
// than 0 turns TLS on.
TEST_F(SettingsFile, TlsKeysOnceSet) {
    Settings s = sample();
    save(s);
    EXPECT_EQ(readFile(ini()).find("TLS"), std::string::npos);
    s.useTLS = true;
    s.tlsCAFile = "/etc/dazoroz/our ca.pem";
    save(s);
    EXPECT_TRUE(readFile(ini()).ends_with("useTLS=1\ntlsCAFile=/etc/dazoroz/our ca.pem\n"));
    expectSame(loaded(), s);
    s.useTLS = false;
    s.tlsCAFile.clear();
    save(s);
    EXPECT_TRUE(readFile(ini()).ends_with("useTLS=0\ntlsCAFile=\n"));
    expectSame(loaded(), s);
    for (const auto& [value, on] : {std::pair{"1", true},
                                    {"7", true},
                                    {"0", false},
                                    {"", false},
                                    {"yes", false},
                                    {"on", false}}) {
        writeFile(ini(), "[General]\nuseTLS="s + value + "\n");
        EXPECT_EQ(loaded().useTLS, on) << value;
    }
}

// A write that fails names the bare file; the keys before it stay written, the later ones not.
class SettingsWriteFailure : public SettingsFile, public ::testing::WithParamInterface<int> {};

TEST_P(SettingsWriteFailure, KeepsEarlierKeysAndWritesNoLaterOne) {
    const int written = GetParam();
    writeFile(ini(), "[General]\nserverIP1=h\n");
    FailingOps ops;
    ops.renamesBeforeFailure = written;
    const Settings s = sample();
    try {
        saveSettings(s, where_, ops);
        FAIL() << "no error";
    } catch (const SettingsWriteError& e) {
        EXPECT_STREQ(e.what(), "Unable to write to dazoroz.ini");
    }
    const Settings back = loaded();
    EXPECT_EQ(back.serverHistory[0], "h");
    EXPECT_EQ(back.serverAddress, written > 0 ? s.serverAddress : defaults_.serverAddress);
    EXPECT_EQ(back.serverPort, written > 1 ? s.serverPort : defaults_.serverPort);
    EXPECT_EQ(back.sendTimeout, written > 2 ? s.sendTimeout : defaults_.sendTimeout);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(back.standardMessages[i], static_cast<std::size_t>(written) > i + 3
                                                ? s.standardMessages[i]
                                                : defaults_.standardMessages[i])
            << i;
    EXPECT_EQ(listDirectory(dir_), std::vector<std::string>{"dazoroz.ini"});
}

INSTANTIATE_TEST_SUITE_P(AfterKeys, SettingsWriteFailure, ::testing::Values(0, 1, 3, 10));

TEST_F(SettingsFile, MissingDirectoryFailsAndIsNotCreated) {
    where_.windowsDirectory = dir_ / "missing";
    EXPECT_THROW(save(sample()), SettingsWriteError);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(SettingsFile, WriteProtectedFileFailsForOrdinaryUsers) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write to any file";
    writeFile(ini(), "[General]\nserverIP=old\n");
    ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
    EXPECT_THROW(save(sample()), SettingsWriteError);
    EXPECT_EQ(loaded().serverAddress, "old");
}

TEST_F(SettingsFile, DirectoryInPlaceOfTheFileGivesDefaultsAndAWriteError) {
    fs::create_directory(ini());
    expectSame(loaded(), defaults_);
    EXPECT_THROW(save(sample()), SettingsWriteError);
    EXPECT_TRUE(fs::is_directory(ini()));
}

// ---- WINDIR, the user's own file and the machine-wide one --------------------------------

std::string withServer(const std::string& name) {
    return "[General]\nserverIP=" + name + "\n";
}

// The user's folder (under a config home that does not exist yet) and the machine-wide folder,
// both under the test's own directory; WINDIR unset.
class SettingsPlaces : public SettingsFile {
protected:
    void SetUp() override {
        SettingsFile::SetUp();
        fs::create_directories(dir_ / "etc");
        where_ = {{}, dir_ / "home/.config/dazoroz", dir_ / "etc"};
    }
    fs::path userIni() const { return where_.userDirectory / "dazoroz.ini"; }
    fs::path machineIni() const { return where_.machineDirectory / "dazoroz.ini"; }
};

struct ReadRow {
    const char* name;
    // "windir" (WINDIR set), "user", "machine": that file, holding the name as serverIP;
    // "user-empty": an empty user's file; "no-user-folder": none to be had
    std::vector<std::string> setup;
    const char* read; // serverIP read
};

class SettingsReadFrom : public SettingsPlaces, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(SettingsReadFrom, TheFileThatCounts) {
    for (const std::string& which : GetParam().setup) {
        if (which == "windir")
            where_.windowsDirectory = dir_;
        if (which == "no-user-folder")
            where_.userDirectory.clear();
        const fs::path file = which == "windir"           ? ini()
                              : which.starts_with("user") ? userIni()
                                                          : machineIni();
        fs::create_directories(file.parent_path());
        if (which != "no-user-folder")
            writeFile(file, which == "user-empty" ? "" : withServer(which));
    }
    EXPECT_EQ(loaded().serverAddress, GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsReadFrom,
    ::testing::Values(ReadRow{"WindirOverBoth", {"windir", "user", "machine"}, "windir"},
                      ReadRow{"UserOverMachine", {"user", "machine"}, "user"},
                      ReadRow{"EmptyUserFileOverMachine", {"user-empty", "machine"}, "127.0.0.1"},
                      ReadRow{"MachineWithoutUserFile", {"machine"}, "machine"},
                      ReadRow{
                          "MachineWithoutUserFolder", {"no-user-folder", "machine"}, "machine"}),
    [](const auto& p) { return std::string(p.param.name); });

// The first save copies the administrator's file byte for byte into a new private folder and
// file, then changes the keys as every save does; the machine-wide file stays as it was.
TEST_F(SettingsPlaces, FirstSaveCopiesTheMachineFileIntoAPrivateOne) {
    const std::string admin =
        "; set up by the administrator\r\n[General]\r\nserverIP=pager.corp\r\n"
        "serverIP1=backup.corp\r\nmessage1=Site call\r\n\r\n[Site]\r\nx=1\r\n";
    writeFile(machineIni(), admin);
    const mode_t oldMask = ::umask(0); // the modes must not depend on it
    Settings s = loaded();
    s.sendTimeout = 5;
    save(s);
    save(s);
    ::umask(oldMask);
    std::string want = "; set up by the administrator\r\n[General]\r\nserverIP=pager.corp\r\n"
                       "serverIP1=backup.corp\r\nmessage1=Site call\r\nserverPort=444\r\n"
                       "timeout=5\r\n";
    for (std::size_t i = 1; i < 8; ++i)
        want += "message" + std::to_string(i + 1) + "=" + defaults_.standardMessages[i] + "\r\n";
    want += "\r\n[Site]\r\nx=1\r\n";
    EXPECT_EQ(readFile(userIni()), want);
    EXPECT_EQ(readFile(machineIni()), admin);
    EXPECT_EQ(modeOf(dir_ / "home/.config"), 0700u);
    EXPECT_EQ(modeOf(where_.userDirectory), 0700u);
    EXPECT_EQ(modeOf(userIni()), 0600u);
    EXPECT_EQ(listDirectory(where_.userDirectory), std::vector<std::string>{"dazoroz.ini"});
    expectSame(loaded(), s);
}

// No user folder to be had (none named, a file in place of the home folder, a read-only home):
// the save fails as a failed write does, and nothing is made or changed.
TEST_F(SettingsPlaces, NoUserFolderFailsTheSave) {
    writeFile(machineIni(), withServer("machine"));
    const fs::path home = dir_ / "home";
    for (const std::string how : {"unnamed", "file", "read-only"}) {
        SCOPED_TRACE(how);
        if (how == "read-only" && ::geteuid() == 0)
            continue; // permissions do not stop root
        fs::remove_all(home);
        if (how == "file")
            writeFile(home, "not a folder");
        if (how == "read-only") {
            fs::create_directory(home);
            fs::permissions(home, fs::perms::owner_read);
        }
        SettingsLocations where = where_;
        if (how == "unnamed")
            where.userDirectory.clear();
        EXPECT_THROW(saveSettings(sample(), where), SettingsWriteError);
        EXPECT_EQ(readFile(machineIni()), withServer("machine"));
        EXPECT_FALSE(fs::exists(where_.userDirectory.parent_path()));
    }
}

// The user's own folder and file are read and written only when they are the user's alone:
// otherwise the machine-wide file is read, and a save writes nothing. As root too.
constexpr int kChown = -1; // given to another user
constexpr int kLink = -2;  // a symbolic link to it in its place
struct FolderRow {
    const char* name;
    bool folder; // what is changed: the folder or the file
    int how;     // kChown, kLink or the mode to set
    const char* refusal;
};

class SettingsFolder : public SettingsPlaces, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(SettingsFolder, AnotherUsersOrUnsafeFileIsNeitherReadNorWritten) {
    const auto& [name, folder, how, refusal] = GetParam();
    if (how == kChown && ::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    writeFile(machineIni(), withServer("machine"));
    const fs::path real = how == kLink && folder ? dir_ / "real" : where_.userDirectory;
    const fs::path file = real / (how == kLink && !folder ? "real.ini" : "dazoroz.ini");
    fs::create_directories(real);
    fs::create_directories(where_.userDirectory.parent_path());
    fs::permissions(real, fs::perms::owner_all);
    writeFile(file, withServer("user"));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path changed = folder ? real : file;
    if (how == kLink)
        folder ? fs::create_directory_symlink(real, where_.userDirectory)
               : fs::create_symlink(file, userIni());
    else
        ASSERT_EQ(how == kChown ? ::chown(changed.c_str(), 65534, 65534)
                                : ::chmod(changed.c_str(), static_cast<mode_t>(how)),
                  0);
    const std::vector<std::string> listing = listDirectory(where_.userDirectory);

    Settings s;
    EXPECT_EQ(loadSettings(s, where_), userIni().string() + " ignored: " + refusal);
    EXPECT_EQ(s.serverAddress, "machine");
    s.password = "s3cret";
    EXPECT_THROW(saveSettings(s, where_), SettingsWriteError);
    EXPECT_EQ(readFile(file), withServer("user"));
    EXPECT_EQ(listDirectory(where_.userDirectory), listing);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsFolder,
    ::testing::Values(
        FolderRow{"FileOfAnotherUser", false, kChown, "another user owns it"},
        FolderRow{"FolderOfAnotherUser", true, kChown, "another user owns its folder"},
        FolderRow{"GroupWritableFile", false, 0620, "others may write to it"},
        FolderRow{"OtherWritableFile", false, 0666, "others may write to it"},
        FolderRow{"GroupWritableFolder", true, 0770, "others may write to its folder"},
        FolderRow{"OtherWritableFolder", true, 0777, "others may write to its folder"},
        FolderRow{"LinkedFile", false, kLink, "it is a symbolic link"},
        FolderRow{"LinkedFolder", true, kLink, "its folder is a symbolic link"}),
    [](const auto& p) { return std::string(p.param.name); });

// WINDIR's file may be shared, but a password never goes through a link, nor into a file that
// stays another user's.
TEST_F(SettingsFile, APasswordIsNeverHandedToAnotherUser) {
    Settings s = sample();
    s.password = "s3cret";
    writeFile(dir_ / "other.ini", "");
    fs::create_symlink("other.ini", ini());
    EXPECT_THROW(save(s), SettingsWriteError);
    EXPECT_EQ(readFile(dir_ / "other.ini"), "");
    fs::remove(ini());
    writeFile(ini(), "");
    if (::geteuid() == 0 && ::chown(ini().c_str(), 65534, 65534) == 0) {
        save(s);
        struct stat st {};
        EXPECT_TRUE(::stat(ini().c_str(), &st) == 0 && st.st_uid == 0 && modeOf(ini()) == 0600);
    }
}

struct EnvironmentRow {
    const char* xdgConfigHome; // nullptr: unset
    const char* home;
    const char* userDirectory; // what settingsLocations() gives
};

class SettingsEnvironment : public ::testing::TestWithParam<EnvironmentRow> {};

TEST_P(SettingsEnvironment, UserFolderFromTheEnvironment) {
    const auto set = [](const char* name, const char* value) {
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    };
    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto xdg = saved("XDG_CONFIG_HOME");
    const auto home = saved("HOME");
    set("XDG_CONFIG_HOME", GetParam().xdgConfigHome);
    set("HOME", GetParam().home);
    const fs::path found = settingsLocations().userDirectory;
    set("XDG_CONFIG_HOME", xdg ? xdg->c_str() : nullptr);
    set("HOME", home ? home->c_str() : nullptr);
    EXPECT_EQ(found, fs::path(GetParam().userDirectory));
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingsEnvironment,
                         ::testing::Values(EnvironmentRow{"/x/cfg", "/h", "/x/cfg/dazoroz"},
                                           EnvironmentRow{"", "/h", "/h/.config/dazoroz"},
                                           EnvironmentRow{nullptr, "/h", "/h/.config/dazoroz"},
                                           EnvironmentRow{"cfg", "/h", "/h/.config/dazoroz"},
                                           EnvironmentRow{nullptr, nullptr, ""},
                                           EnvironmentRow{"", "", ""}));

// ---- Bad input ----------------------------------------------------------------------------

struct BadIniCase {
    const char* name;
    std::string bytes;
    std::string serverAddress;
    std::int32_t serverPort;
    std::optional<std::string> message1; // nullopt: the default
};

std::string randomBytes(std::size_t n) {
    std::mt19937 rng(5);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

class SettingsBadInput : public SettingsFile, public ::testing::WithParamInterface<BadIniCase> {};

TEST_P(SettingsBadInput, ReadsWhatItCanAndStillSaves) {
    const auto& c = GetParam();
    writeFile(ini(), c.bytes);
    const Settings s = loaded();
    EXPECT_EQ(s.serverAddress, c.serverAddress);
    EXPECT_EQ(s.serverPort, c.serverPort);
    EXPECT_EQ(s.standardMessages[0], c.message1.value_or(defaults_.standardMessages[0]));

    const Settings changed = sample();
    save(changed);
    Settings back = loaded();
    back.serverHistory = {};
    expectSame(back, changed);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsBadInput,
    ::testing::Values(
        BadIniCase{"NoSection", "serverIP=1.2.3.4\nserverPort=9\n", "127.0.0.1", 444, {}},
        BadIniCase{"HeaderWithoutBracket", "[General\nserverIP=1.2.3.4\n", "127.0.0.1", 444, {}},
        BadIniCase{"KeysWithoutEquals", "[General]\nserverIP\nserverPort 9\nmessage1=ok\n",
                   "127.0.0.1", 444, "ok"},
        BadIniCase{"ValuesHoldingEquals", "[General]\nserverIP=a=b\nmessage1==\n", "a=b", 444, "="},
        BadIniCase{"HundredKilobyteValue",
                   "[General]\nmessage1=" + std::string(100000, 'v') + "\nserverPort=7\n",
                   "127.0.0.1", 7, std::string(2047, 'v')},
        BadIniCase{"NulBytes", "[General]\nserverIP=a\0b\n\0\nserverPort=7\n"s, "a\0b"s, 7, {}},
        BadIniCase{"RandomBytes", randomBytes(1 << 16), "127.0.0.1", 444, {}},
        BadIniCase{"RandomBytesThenSection",
                   randomBytes(4096) + "\n[General]\nserverPort=8\n",
                   "127.0.0.1",
                   8,
                   {}},
        BadIniCase{"OnlyLineEnds",
                   std::string(10000, '\n') + std::string(10000, '\r'),
                   "127.0.0.1",
                   444,
                   {}}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
