#include "TestSupport.h"
#include "platform/linux/base/DesktopApplications.h"
#include "platform/linux/base/PlistBundleInfo.h"
#include "platform/linux/base/ProcWorkspace.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

namespace fs = std::filesystem;
using platform::ActivationPolicy;
using platform::RunningApplication;
using platform::linuxdesktop::DesktopApplications;
using platform::linuxdesktop::PlistBundleInfo;
using platform::linuxdesktop::plistStrings;
using platform::linuxdesktop::ProcWorkspace;

const char* const infoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleDocumentTypes</key>
	<dict>
		<key>CFBundleIdentifier</key>
		<string>nested.must.not.win</string>
	</dict>
	<key>CFBundleIdentifier</key>
	<string>com.example.Sleeper</string>
	<key>LSUIElement</key>
	<true/>
	<key>CFBundleName</key>
	<string>Tom &amp; Jerry</string>
	<key>CFBundleShortVersionString</key>
	<string>3.1.4</string>
</dict>
</plist>
)";

std::string bundleAt(const std::string& directory, const std::string& executableName) {
    const std::string bundle = directory + "/Sleeper.app";
    fs::create_directories(bundle + "/Contents/MacOS");
    writeFile(bundle + "/Contents/Info.plist", infoPlist);
    fs::copy_file("/bin/sleep", bundle + "/Contents/MacOS/" + executableName);
    return bundle;
}

TEST(Bundle, ReadsTheTopLevelStringsOfItsInfoPlist) {
    TemporaryDirectory directory;
    const std::string bundle = bundleAt(directory.path(), "sleeper");
    PlistBundleInfo info(bundle);
    EXPECT_EQ(info.identifier(), "com.example.Sleeper");
    EXPECT_EQ(info.shortVersion(), "3.1.4");
    EXPECT_EQ(info.name(), "Tom & Jerry");

    auto values = plistStrings(bundle + "/Contents/Info.plist");
    EXPECT_FALSE(values.contains("LSUIElement"));
    EXPECT_EQ(values.size(), 3u);
}

TEST(Bundle, AMissingOrBrokenInfoPlistGivesEmptyAnswers) {
    TemporaryDirectory directory;
    PlistBundleInfo missing(directory.path() + "/Nowhere.app");
    EXPECT_EQ(missing.identifier(), "");
    EXPECT_EQ(missing.shortVersion(), "");

    fs::create_directories(directory.path() + "/Broken.app/Contents");
    writeFile(directory.path() + "/Broken.app/Contents/Info.plist",
              "<plist><dict><key>CFBundleIdentifier</key><string>half");
    EXPECT_EQ(PlistBundleInfo(directory.path() + "/Broken.app").identifier(), "");
}

class Workspace : public ::testing::Test {
protected:
    RecordingConsole console;
    // No display server: every application is accessory, the rest comes from /proc.
    ProcWorkspace workspace{console};

    static std::vector<RunningApplication>::const_iterator
    find(const std::vector<RunningApplication>& apps, const std::string& path) {
        return std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
            return app.executablePath == path;
        });
    }
};

TEST_F(Workspace, FindsThisProcessWithItsExecutable) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    auto apps = workspace.runningApplications();
    auto found = find(apps, self);
    ASSERT_NE(found, apps.end());
    EXPECT_EQ(found->bundleIdentifier, std::nullopt);
    EXPECT_EQ(found->activationPolicy, ActivationPolicy::accessory);
    EXPECT_EQ(found->executableFileName(), fs::path(self).filename().string());
}

TEST_F(Workspace, NamesTheBundleOfAnExecutableInsideOneAndListsByProcessId) {
    TemporaryDirectory directory;
    const std::string bundle = bundleAt(directory.path(), "first sleeper");
    fs::copy_file("/bin/sleep", bundle + "/Contents/MacOS/second");
    ChildProcess first({bundle + "/Contents/MacOS/first sleeper", "30"});
    ChildProcess second({bundle + "/Contents/MacOS/second", "30"});
    ASSERT_LT(first.pid(), second.pid()) << "process ids wrapped around; run again";

    auto apps = workspace.runningApplications();
    auto firstFound = find(apps, bundle + "/Contents/MacOS/first sleeper");
    auto secondFound = find(apps, bundle + "/Contents/MacOS/second");
    ASSERT_NE(firstFound, apps.end());
    ASSERT_NE(secondFound, apps.end());
    EXPECT_LT(firstFound, secondFound);
    EXPECT_EQ(firstFound->bundleIdentifier, "com.example.Sleeper");
    EXPECT_EQ(firstFound->executableFileName(), "first sleeper");
}

// The kernel appends " (deleted)" to the link of an executable removed since it started.
TEST_F(Workspace, ReportsTheOriginalPathOfARemovedExecutable) {
    TemporaryDirectory directory;
    const std::string executable = directory.path() + "/vanishing";
    fs::copy_file("/bin/sleep", executable);
    // posix_spawn returns once the child runs the new executable.
    ChildProcess child({executable, "30"});
    fs::remove(executable);
    auto apps = workspace.runningApplications();
    EXPECT_NE(find(apps, executable), apps.end());
    EXPECT_EQ(find(apps, executable + " (deleted)"), apps.end());
}

// Where no window list exists (Wayland), the applications with windows are those an installed
// desktop entry starts: by path, by name on PATH or through a link, and seen again once an entry
// is added while the program runs.
TEST(DesktopApplications, AProcessIsRegularWhenAnInstalledEntryStartsItsExecutable) {
    TemporaryDirectory directory;
    const std::string bin = directory.path() + "/bin";
    fs::create_directories(bin);
    for (const char* name : {"viewer", "editor", "player", "daemon"}) {
        fs::copy_file("/bin/sleep", bin + "/" + name);
    }
    fs::create_symlink(bin + "/player", bin + "/player-link");
    const std::string data = directory.path() + "/data/applications";
    fs::create_directories(data + "/sub");
    writeFile(data + "/viewer.desktop",
              "[Desktop Entry]\nType=Application\nName=V\nExec=\"" + bin + "/viewer\" %U\n");
    writeFile(data + "/sub/editor.desktop",
              "[Desktop Entry]\nType=Application\nName=E\nExec=editor --new\n");
    writeFile(data + "/hidden.desktop",
              "[Desktop Entry]\nType=Application\nName=D\nHidden=true\nExec=" + bin + "/daemon\n");
    ScopedEnvironment dataHome("XDG_DATA_HOME", (directory.path() + "/data").c_str());
    ScopedEnvironment dataDirs("XDG_DATA_DIRS", (directory.path() + "/none").c_str());
    ScopedEnvironment path("PATH", bin.c_str());

    DesktopApplications applications;
    RecordingConsole console;
    ProcWorkspace workspace(console, &applications);
    ChildProcess viewer({bin + "/viewer", "30"});
    ChildProcess editor({bin + "/editor", "30"});
    ChildProcess player({bin + "/player", "30"});
    ChildProcess daemon({bin + "/daemon", "30"});
    auto policyOf = [&](const std::string& name) {
        auto apps = workspace.runningApplications();
        auto found = std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
            return app.executablePath == bin + "/" + name;
        });
        return found == apps.end() ? std::nullopt : std::optional(found->activationPolicy);
    };
    EXPECT_EQ(policyOf("viewer"), ActivationPolicy::regular);
    EXPECT_EQ(policyOf("editor"), ActivationPolicy::regular);
    EXPECT_EQ(policyOf("player"), ActivationPolicy::accessory);
    EXPECT_EQ(policyOf("daemon"), ActivationPolicy::accessory);

    // The folder's time is what tells it changed; make sure it moves on a coarse clock.
    writeFile(data + "/player.desktop",
              "[Desktop Entry]\nType=Application\nName=P\nExec=" + bin + "/player-link\n");
    fs::last_write_time(data, fs::last_write_time(data) + std::chrono::seconds(2));
    EXPECT_EQ(policyOf("player"), ActivationPolicy::regular);
}

} // namespace
} // namespace brimlow::testing
