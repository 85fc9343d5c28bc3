#include "TestSupport.h"
#include "platform/linux/base/AutostartLoginItems.h"
#include "platform/linux/base/DesktopEntry.h"
#include "platform/linux/base/ProcWorkspace.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace brimlow::testing {
namespace {

namespace fs = std::filesystem;
using namespace platform::linuxdesktop;
using Lines = std::vector<std::string>;

const std::string launcherId = "com.pellvane.BrimlowLauncher2";
// Blanks, both quotes, a backquote, $ and a backslash. (A % is written as %%, as the rules say,
// but GLib, systemd and dex all look for the executable before they undo that.)
const std::string awkwardFolder = "a b \"q\" 'x' `y` $HOME \\back";

void makeExecutable(const fs::path& path, const std::string& script) {
    fs::create_directories(path.parent_path());
    writeFile(path.string(), script);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

std::string infoPlist(const std::string& identifier, const std::string& executable) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
           "<string>" +
           identifier + "</string><key>CFBundleExecutable</key><string>" + executable +
           "</string></dict></plist>";
}

Lines linesOf(const std::string& path) {
    std::ifstream in(path);
    Lines lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool waitFor(const std::function<bool()>& condition) {
    for (int tries = 0; tries < 500; ++tries) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(DesktopEntry, AnExecValueReadsBackAsTheSameArguments) {
    const std::vector<Lines> samples{
        {"/usr/bin/brimlow"},
        {"/a b/\"q\" 'x' `y` $HOME %u %% \\back\\", "--flag=%f", ""},
        {"tab\there", "new\nline", "carriage\rreturn", "\u00e9t\u00e9 \u2192 \U0001f600"},
    };
    for (const Lines& arguments : samples) {
        std::optional<std::string> value = execValue(arguments);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->find_first_of("\n\t\r"), std::string::npos) << "one line: " << *value;
        auto keys = desktopEntryKeys("[Desktop Entry]\nExec=" + *value + "\n");
        ASSERT_TRUE(keys);
        EXPECT_EQ(execArguments(keys->at("Exec")), arguments) << *value;
    }
    for (const char* unwritable : {"bell\a", "delete\x7f", "latin1 \xe9t\xe9", "\xc0\xaf"}) {
        EXPECT_EQ(execValue({unwritable}), std::nullopt) << unwritable;
    }
}

// A bundle under a folder with every character a desktop entry must quote, whose launcher
// records the path it was started by.
class LoginItem : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path helper = bundle + "/Contents/Library/LoginItems/BrimlowLauncher.app";
        fs::create_directories(helper / "Contents");
        writeFile((helper / "Contents/Info.plist").string(),
                  infoPlist(launcherId, "BrimlowLauncher"));
        makeExecutable(launcher, "#!/bin/sh\nprintf '%s\\n' \"$0\" >> '" + record + "'\n");
    }

    std::map<std::string, std::string> entry() {
        return desktopEntryKeys(readFile(entryPath)).value_or(std::map<std::string, std::string>{});
    }
    ino_t inode() {
        struct stat status {};
        return lstat(entryPath.c_str(), &status) == 0 ? status.st_ino : 0;
    }

    TemporaryDirectory directory;
    const std::string bundle = directory.path() + "/" + awkwardFolder + "/Brimlow.app";
    const std::string launcher = bundle + "/Contents/Library/LoginItems/BrimlowLauncher.app/"
                                          "Contents/MacOS/BrimlowLauncher";
    const std::string record = directory.path() + "/started";
    const std::string autostart = directory.path() + "/config/autostart";
    const std::string entryPath = autostart + "/" + launcherId + ".desktop";
    AutostartLoginItems items{bundle, autostart, "Brimlow", "com.pellvane.Brimlow2"};
};

TEST_F(LoginItem, TheEntryStartsTheLauncherThroughTheDesktopsOwnParsers) {
    platform::LoginItemResult result = items.enable(launcherId);
    ASSERT_TRUE(result.enabled) << result.failure;
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(execArguments(entry()["Exec"]), Lines{launcher});
    EXPECT_EQ(entry()["TryExec"], launcher);

    const std::string quoted = "'" + entryPath + "'";
    EXPECT_EQ(std::system(("desktop-file-validate " + quoted).c_str()), 0) << readFile(entryPath);
    // GLib's parser, as GNOME's session and systemd's autostart generator follow the same rules.
    // (dex ignores escapes inside quotes; the login test runs it on a path with blanks.)
    ASSERT_EQ(std::system(("gio launch " + quoted).c_str()), 0);
    ASSERT_TRUE(waitFor([&] { return linesOf(record).size() == 1; })) << readFile(entryPath);
    EXPECT_EQ(linesOf(record), Lines{launcher});
}

TEST_F(LoginItem, AnEntryThatRunsTheLauncherIsLeftByteForByte) {
    ASSERT_TRUE(items.enable(launcherId).enabled);
    const ino_t written = inode();
    ASSERT_TRUE(items.enable(launcherId).enabled);
    EXPECT_EQ(inode(), written) << "written again though nothing differed";

    // As the desktops' start-up settings turn an entry off.
    const std::string exec = "Exec=" + *execValue({launcher}) + "\n";
    for (const std::string& turnedOff :
         {"[Desktop Entry]\n# mine\nType=Application\nName=Brimlow\n" + exec + "Hidden=true\n",
          "[Desktop Entry]\nName=Brimlow\nX-GNOME-Autostart-enabled=false\n" + exec}) {
        writeFile(entryPath, turnedOff);
        const ino_t userFile = inode();
        platform::LoginItemResult result = items.enable(launcherId);
        EXPECT_TRUE(result.enabled) << "a user's choice counts as enabled";
        EXPECT_EQ(readFile(entryPath), turnedOff);
        EXPECT_EQ(inode(), userFile);
    }
}

TEST_F(LoginItem, AnyOtherEntryIsReplacedAndStaysOffIfTheUserTurnedItOff) {
    const std::vector<std::pair<std::string, std::string>> entries{
        {"not a desktop entry\n", ""},
        {"[Desktop Entry]\nExec=\"" + launcher + "\n", ""},
        {"[Desktop Entry]\nExec=/usr/lib/old/BrimlowLauncher\nX-GNOME-Autostart-enabled=false\n",
         "false"},
        {"[Desktop Entry]\nExec=" + *execValue({launcher, "--extra"}) + "\nHidden=true\n", ""},
    };
    for (const auto& [old, gnomeEnabled] : entries) {
        writeFile(entryPath, old);
        ASSERT_TRUE(items.enable(launcherId).enabled) << old;
        auto keys = entry();
        EXPECT_EQ(execArguments(keys["Exec"]), Lines{launcher}) << old;
        EXPECT_EQ(keys["X-GNOME-Autostart-enabled"], gnomeEnabled) << old;
        EXPECT_EQ(keys["Hidden"], old.find("Hidden=true") == std::string::npos ? "" : "true");
    }
}

// An administrator turns start at login off for everyone with a system entry of that name; a
// user who has an entry of their own keeps it as it is.
TEST_F(LoginItem, ANewEntryStartsOffWhereTheSystemsEntryIsOff) {
    const std::string site = directory.path() + "/site/autostart";
    const std::string vendor = directory.path() + "/vendor/autostart";
    AutostartLoginItems managed{bundle, autostart, "Brimlow", "x", {site, vendor}};
    fs::create_directories(site);
    fs::create_directories(vendor);
    writeFile(vendor + "/" + launcherId + ".desktop",
              "[Desktop Entry]\nName=Brimlow\nExec=/usr/bin/true\nHidden=true\n");

    ASSERT_TRUE(managed.enable(launcherId).enabled);
    EXPECT_EQ(execArguments(entry()["Exec"]), Lines{launcher});
    EXPECT_EQ(entry()["Hidden"], "true");

    // The more important folder decides, and a user's own entry more than either.
    writeFile(site + "/" + launcherId + ".desktop", "[Desktop Entry]\nExec=/usr/bin/true\n");
    fs::remove(entryPath);
    ASSERT_TRUE(managed.enable(launcherId).enabled);
    EXPECT_EQ(entry().count("Hidden"), 0u) << readFile(entryPath);
    writeFile(site + "/" + launcherId + ".desktop",
              "[Desktop Entry]\nExec=/usr/bin/true\nX-GNOME-Autostart-enabled=false\n");
    writeFile(entryPath, "[Desktop Entry]\nExec=/usr/lib/old/BrimlowLauncher\n");
    ASSERT_TRUE(managed.enable(launcherId).enabled);
    EXPECT_EQ(execArguments(entry()["Exec"]), Lines{launcher});
    EXPECT_EQ(entry().count("X-GNOME-Autostart-enabled"), 0u) << readFile(entryPath);
}

TEST_F(LoginItem, AFileThatIsNotOursIsNeverReplaced) {
    // Dotfile managers link the entry to a file of theirs: it is updated there.
    const std::string dotfile = directory.path() + "/dotfiles/brimlow.desktop";
    writeFile(dotfile, "[Desktop Entry]\nExec=/old\n");
    fs::create_directories(autostart);
    fs::create_symlink(dotfile, entryPath);
    ASSERT_TRUE(items.enable(launcherId).enabled);
    EXPECT_TRUE(fs::is_symlink(entryPath));
    EXPECT_EQ(execArguments(desktopEntryKeys(readFile(dotfile))->at("Exec")), Lines{launcher});

    // A link to something that is not a regular file is how some users keep a program out.
    const std::string fifo = directory.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::remove(entryPath);
    fs::create_symlink(fifo, entryPath);
    platform::LoginItemResult result = items.enable(launcherId);
    EXPECT_FALSE(result.enabled);
    EXPECT_NE(result.failure.find("is not a regular file"), std::string::npos) << result.failure;
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(entryPath));

    // A file where the autostart folder should be.
    AutostartLoginItems blocked{bundle, record + "/autostart", "Brimlow", "x"};
    writeFile(record, "");
    result = blocked.enable(launcherId);
    EXPECT_FALSE(result.enabled);
    EXPECT_NE(result.failure.find("Cannot write the autostart entry"), std::string::npos);

    result = items.enable("com.example.Missing");
    EXPECT_FALSE(result.enabled);
    EXPECT_EQ(result.failure,
              "No login item com.example.Missing in " + bundle + "/Contents/Library/LoginItems");
}

std::string statField(pid_t pid, int field) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string value;
    for (int i = 3; i <= field; ++i) {
        fields >> value;
    }
    return value;
}

// The real launcher in a bundle of its own, where "Brimlow 2" records its process id and waits.
TEST(Launch, TheProgramRunsOnItsOwnAndOutlivesTheLauncher) {
    // Without a bus the launcher would not start it: nothing could tell it to quit.
    usePrivateSessionBus();
    TemporaryDirectory directory;
    const std::string bundle = directory.path() + "/B.app";
    const fs::path helper = bundle + "/Contents/Library/LoginItems/L.app/Contents";
    fs::create_directories(helper / "MacOS");
    fs::copy_file(BRIMLOW_LAUNCHER, helper / "MacOS/L");
    writeFile((helper / "Info.plist").string(), infoPlist(launcherId, "L"));
    const std::string pidFile = directory.path() + "/pid";
    makeExecutable(bundle + "/Contents/MacOS/Brimlow 2", "#!/bin/sh\necho $$ > '" + pidFile +
                                                             ".new'\nmv '" + pidFile + ".new' '" +
                                                             pidFile + "'\nexec sleep 60\n");

    pid_t program = 0;
    {
        ChildProcess launcher({(helper / "MacOS/L").string()});
        ASSERT_TRUE(waitFor([&] { return fs::exists(pidFile); }));
        program = std::stoi(readFile(pidFile));
        EXPECT_NE(statField(program, 4), std::to_string(launcher.pid())) << "the launcher's child";
        EXPECT_NE(statField(program, 6), std::to_string(getsid(0))) << "in our session";
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(program) + "/fd/0"), "/dev/null");
    }
    EXPECT_EQ(kill(program, 0), 0) << "ended with the launcher";
    kill(program, SIGKILL);
}

TEST(Launch, AProgramThatCannotStartSaysWhyInOneLine) {
    TemporaryDirectory directory;
    const std::string notExecutable = directory.path() + "/plain";
    writeFile(notExecutable, "#!/bin/sh\n");
    RecordingConsole console;
    ProcWorkspace workspace(console);
    EXPECT_FALSE(workspace.launchApplication(directory.path() + "/missing"));
    EXPECT_FALSE(workspace.launchApplication(notExecutable));
    EXPECT_EQ(console.lines(),
              (Lines{"Cannot start " + directory.path() + "/missing: No such file or directory",
                     "Cannot start " + notExecutable + ": Permission denied"}));
}

} // namespace
} // namespace brimlow::testing
