#include "TestSupport.h"
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

} // namespace
} // namespace brimlow::testing
