#include "TestSupport.h"
#include "platform/linux/qt/SettingsPreferenceStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace brimlow::testing {
namespace {

namespace fs = std::filesystem;
using platform::linuxdesktop::preferencesFilePath;
using platform::linuxdesktop::SettingsPreferenceStore;
using platform::linuxdesktop::systemPreferencesFilePaths;

class PreferenceStore : public ::testing::Test {
protected:
    TemporaryDirectory home;
    ScopedEnvironment configHome{"XDG_CONFIG_HOME", home.path().c_str()};
    const std::string path = preferencesFilePath();
    RecordingConsole console;

    std::vector<std::string> filesBeside() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PreferenceStore, LivesUnderTheUsersConfigurationDirectory) {
    EXPECT_EQ(path, home.path() + "/pellvane/Brimlow2.conf");
    {
        ScopedEnvironment unset("XDG_CONFIG_HOME", nullptr);
        ScopedEnvironment homeDirectory("HOME", "/home/someone");
        EXPECT_EQ(preferencesFilePath(), "/home/someone/.config/pellvane/Brimlow2.conf");
        // XDG base directories must be absolute; a relative one is ignored.
        ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(preferencesFilePath(), "/home/someone/.config/pellvane/Brimlow2.conf");
    }
}

// Each write replaces the whole file by renaming a complete new one over it: a copy of the old
// file (a hard link) keeps its old contents, and no temporary or lock file stays behind.
TEST_F(PreferenceStore, EveryWriteReplacesTheFileWholeAtOnce) {
    SettingsPreferenceStore store(path, console);
    store.setInteger("movedcount", 5);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_NE(readFile(path).find("movedcount=5"), std::string::npos);
    fs::create_hard_link(path, home.path() + "/before");

    store.setString("apprunning", "Terminal");
    EXPECT_EQ(readFile(home.path() + "/before"), "[General]\nmovedcount=5\n");
    std::string after = readFile(path);
    EXPECT_NE(after.find("movedcount=5\n"), std::string::npos);
    EXPECT_NE(after.find("apprunning=Terminal\n"), std::string::npos);
    EXPECT_EQ(filesBeside(), std::vector<std::string>{"Brimlow2.conf"});
    EXPECT_TRUE(console.lines().empty());
}

TEST_F(PreferenceStore, SeesAnotherProgramsEditAtTheNextRead) {
    SettingsPreferenceStore store(path, console);
    store.setInteger("movedcount", 5);
    store.setInteger("idleseconds", 60);

    writeFile(path, "[General]\nmovedcount=12345\napprunning=Mail\n");
    EXPECT_EQ(store.integerForKey("movedcount"), 12345);
    EXPECT_EQ(store.stringForKey("apprunning"), "Mail");
    // The other program removed it.
    EXPECT_EQ(store.stringForKey("idleseconds"), std::nullopt);
    EXPECT_EQ(store.integerForKey("idleseconds"), 0);
}

// A write right after another program's edit must not put back what that program changed.
TEST_F(PreferenceStore, AWriteKeepsAnotherProgramsEdit) {
    SettingsPreferenceStore store(path, console);
    store.setInteger("movedcount", 5);
    writeFile(path, "[General]\nmovedcount=777\nlaunchcount=3\n");
    store.setInteger("idleseconds", 90);
    std::string contents = readFile(path);
    EXPECT_NE(contents.find("movedcount=777\n"), std::string::npos) << contents;
    EXPECT_NE(contents.find("launchcount=3\n"), std::string::npos) << contents;
    EXPECT_NE(contents.find("idleseconds=90\n"), std::string::npos) << contents;
}

// QSettings would merge what it understood of a corrupt file into its next write; the file is
// moved aside first, bytes intact, and the store carries on empty.
TEST_F(PreferenceStore, KeepsACorruptFileAsideAndStartsEmpty) {
    fs::create_directories(fs::path(path).parent_path());
    const std::string corrupt = "[General\nmovedcount=7\nsecret=kept\n";
    writeFile(path, corrupt);

    SettingsPreferenceStore store(path, console);
    EXPECT_EQ(store.integerForKey("movedcount"), 0);
    ASSERT_EQ(console.lines().size(), 1u);
    auto beside = filesBeside();
    ASSERT_EQ(beside.size(), 1u);
    const std::string aside = fs::path(path).parent_path() / beside.front();
    EXPECT_TRUE(beside.front().starts_with("Brimlow2.conf.corrupt-")) << beside.front();
    EXPECT_EQ(readFile(aside), corrupt);
    EXPECT_NE(console.lines().front().find(path), std::string::npos) << console.lines().front();
    EXPECT_NE(console.lines().front().find(aside), std::string::npos) << console.lines().front();

    store.setInteger("idleseconds", 30);
    EXPECT_EQ(readFile(path), "[General]\nidleseconds=30\n");
    EXPECT_EQ(readFile(aside), corrupt);
}

TEST_F(PreferenceStore, FindsACorruptFileBeforeTheFirstWriteAndNeverOverwritesAnEarlierCopy) {
    fs::create_directories(fs::path(path).parent_path());
    const std::string first = "[General\nsecret=1\n";
    const std::string second = "[Gen\nsecret=2\n";
    writeFile(path, first);
    SettingsPreferenceStore store(path, console);
    store.setInteger("movedcount", 1);
    EXPECT_EQ(readFile(path), "[General]\nmovedcount=1\n");

    // Corrupt again within the same second: the second copy needs a name of its own.
    writeFile(path, second);
    store.setInteger("movedcount", 2);
    EXPECT_EQ(readFile(path), "[General]\nmovedcount=2\n");

    std::vector<std::string> kept;
    for (const auto& name : filesBeside()) {
        if (name != "Brimlow2.conf") {
            kept.push_back(readFile(fs::path(path).parent_path() / name));
        }
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{second, first}));
    EXPECT_EQ(console.lines().size(), 2u);
}

// A file where the directory should be makes the location unwritable, even for root.
TEST_F(PreferenceStore, AnUnwritableLocationKeepsTheValuesForTheRunAndSaysSoOnce) {
    const std::string blocker = home.path() + "/pellvane";
    writeFile(blocker, "not a directory");

    SettingsPreferenceStore store(path, console);
    store.setInteger("idleseconds", 45);
    store.setString("apprunning", "Mail");
    store.setInteger("movedcount", 3);
    EXPECT_EQ(store.integerForKey("idleseconds"), 45);
    EXPECT_EQ(store.stringForKey("apprunning"), "Mail");
    EXPECT_EQ(console.lines().size(), 1u);
    EXPECT_NE(console.lines().front().find(path), std::string::npos) << console.lines().front();

    // Once the location can be written, everything kept so far is saved.
    fs::remove(blocker);
    fs::create_directory(blocker);
    store.setInteger("movedcount", 4);
    std::string contents = readFile(path);
    EXPECT_NE(contents.find("idleseconds=45\n"), std::string::npos) << contents;
    EXPECT_NE(contents.find("apprunning=Mail\n"), std::string::npos) << contents;
    EXPECT_NE(contents.find("movedcount=4\n"), std::string::npos) << contents;
    EXPECT_EQ(console.lines().size(), 1u);
}

// Dotfile managers link the file into a repository of theirs.
TEST_F(PreferenceStore, ALinkedFileIsReplacedWhereItIsAndTheLinkStays) {
    const std::string dotfiles = home.path() + "/dotfiles";
    fs::create_directories(dotfiles);
    writeFile(dotfiles + "/brimlow.conf", "[General]\nidleseconds=90\n");
    fs::create_directories(fs::path(path).parent_path());
    fs::create_symlink("../dotfiles/brimlow.conf", path);

    SettingsPreferenceStore store(path, console);
    EXPECT_EQ(store.integerForKey("idleseconds"), 90);
    store.setInteger("movedcount", 4);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(readFile(dotfiles + "/brimlow.conf"), "[General]\nidleseconds=90\nmovedcount=4\n");
    EXPECT_EQ(filesBeside(), std::vector<std::string>{"Brimlow2.conf"});

    // A corrupt file is kept aside where it is, and the link still leads to the store.
    writeFile(dotfiles + "/brimlow.conf", "[General\n");
    store.setInteger("launchcount", 1);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(readFile(path), "[General]\nlaunchcount=1\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dotfiles), fs::directory_iterator()), 2);
}

struct Node {
    std::string what;
    std::string path;
};

// The test's own copy of a device node where it may make one (as root, where a store that wrote
// through the link would replace the system's node); the system's node otherwise, which a user
// cannot replace.
std::string deviceNode(const std::string& folder, const char* name, unsigned minor) {
    const std::string own = folder + "/" + name;
    return mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0 ? own
                                                                      : std::string("/dev/") + name;
}

// A common way to stop a program from saving is to link its file to /dev/null; writing through
// such a link as root would replace the device. Nothing that is not a regular file is opened at
// all: a FIFO would block a read and /dev/zero would never end.
TEST_F(PreferenceStore, WhatIsNotAFileStaysExactlyAsItWasAndTheValuesLiveInMemory) {
    const std::string fifo = home.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = home.path() + "/folder";
    fs::create_directories(folder);
    for (const Node& node : {Node{"a link to /dev/null", deviceNode(home.path(), "null", 3)},
                             Node{"a link to /dev/zero", deviceNode(home.path(), "zero", 5)},
                             Node{"a link to a FIFO", fifo}, Node{"a link to a folder", folder}}) {
        fs::create_directories(fs::path(path).parent_path());
        fs::remove(path);
        fs::create_symlink(node.path, path);
        struct stat before {};
        ASSERT_EQ(stat(node.path.c_str(), &before), 0);
        RecordingConsole lines;
        {
            SettingsPreferenceStore store(path, lines);
            store.setInteger("movedcount", 7);
            store.setString("apprunning", "Mail");
            EXPECT_EQ(store.integerForKey("movedcount"), 7) << node.what;
            EXPECT_EQ(store.stringForKey("apprunning"), "Mail") << node.what;
        }
        struct stat after {};
        ASSERT_EQ(stat(node.path.c_str(), &after), 0) << node.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << node.what;
        EXPECT_EQ(after.st_mode, before.st_mode) << node.what;
        EXPECT_EQ(after.st_uid, before.st_uid) << node.what;
        EXPECT_EQ(after.st_rdev, before.st_rdev) << node.what;
        EXPECT_TRUE(fs::is_symlink(path)) << node.what;
        EXPECT_EQ(lines.lines().size(), 1u) << node.what;
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

// On a file system with no room left, or one that cannot be written at all, the old file stays
// whole, and the values live on.
TEST_F(PreferenceStore, AFullOrReadOnlyDiskKeepsTheOldFileByteForByte) {
    const std::string disk = home.path() + "/disk";
    fs::create_directories(disk);
    // A small file system of the test's own, in a mount namespace no other process sees.
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "a small file system needs root (or CAP_SYS_ADMIN): "
                     << std::strerror(errno);
    }
    const std::string file = disk + "/Brimlow2.conf";
    {
        SettingsPreferenceStore store(file, console);
        store.setInteger("idleseconds", 120);
        store.setString("apprunning", "Mail");
        const std::string before = readFile(file);
        // Fill the rest.
        int filler = open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        close(filler);

        store.setString("apprunning", std::string(2000, 'y'));
        EXPECT_EQ(readFile(file), before);
        EXPECT_EQ(store.stringForKey("apprunning"), std::string(2000, 'y'));
        EXPECT_EQ(store.integerForKey("idleseconds"), 120);
        ASSERT_FALSE(console.lines().empty());
        EXPECT_NE(console.lines().front().find("cannot be read or written"), std::string::npos);
        EXPECT_EQ(std::distance(fs::directory_iterator(disk), fs::directory_iterator()), 2)
            << "a temporary file stayed behind";

        // The same on a file system mounted read-only, which even root cannot write.
        fs::remove(disk + "/filler");
        ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
        store.setInteger("movedcount", 9);
        EXPECT_EQ(readFile(file), before);
        EXPECT_EQ(store.integerForKey("movedcount"), 9);
    }
    umount(disk.c_str());
}

TEST_F(PreferenceStore, IntegersAreWholeSixtyFourBitDecimalsOrZero) {
    fs::create_directories(fs::path(path).parent_path());
    writeFile(path, "[General]\n"
                    "letters=abc\n"
                    "exponent=1e3\n"
                    "toolarge=99999999999999999999\n"
                    "negative=-42\n"
                    "largest=9223372036854775807\n"
                    "smallest=-9223372036854775808\n"
                    "trailing=12abc\n"
                    "hex=0x10\n"
                    "fraction=1.5\n"
                    "plus=+5\n"
                    "empty=\n"
                    "list=1, 2\n");
    SettingsPreferenceStore store(path, console);
    EXPECT_EQ(store.integerForKey("absent"), 0);
    EXPECT_EQ(store.integerForKey("letters"), 0);
    EXPECT_EQ(store.integerForKey("exponent"), 0);
    EXPECT_EQ(store.integerForKey("toolarge"), 0);
    EXPECT_EQ(store.integerForKey("negative"), -42);
    EXPECT_EQ(store.integerForKey("largest"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(store.integerForKey("smallest"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(store.integerForKey("trailing"), 0);
    EXPECT_EQ(store.integerForKey("hex"), 0);
    EXPECT_EQ(store.integerForKey("fraction"), 0);
    EXPECT_EQ(store.integerForKey("plus"), 0);
    EXPECT_EQ(store.integerForKey("empty"), 0);
    EXPECT_EQ(store.integerForKey("list"), 0);

    store.setInteger("written", std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(store.integerForKey("written"), std::numeric_limits<std::int64_t>::min());
    store.setInteger("written", -7);
    EXPECT_EQ(store.integerForKey("written"), -7);
}

// Written by one store, read from the file by another that has never seen the values.
TEST_F(PreferenceStore, StringsComeBackExactlyAsWritten) {
    const std::vector<std::string> values{" leading",
                                          "trailing ",
                                          "  both  ",
                                          "a, b; c = d",
                                          "Caf\u00e9 \u2615",
                                          "@Variant(x)",
                                          "back\\slash \"quoted\"",
                                          "line\nbreak",
                                          "",
                                          "tab\there",
                                          "#not a comment",
                                          "[General]"};
    {
        SettingsPreferenceStore writer(path, console);
        for (std::size_t i = 0; i < values.size(); ++i) {
            writer.setString("key" + std::to_string(i), values[i]);
        }
    }
    TemporaryDirectory elsewhere;
    fs::create_directories(elsewhere.path() + "/pellvane");
    fs::copy_file(path, elsewhere.path() + "/pellvane/Brimlow2.conf");
    SettingsPreferenceStore reader(elsewhere.path() + "/pellvane/Brimlow2.conf", console);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reader.stringForKey("key" + std::to_string(i)), values[i]) << "value " << i;
    }
    EXPECT_EQ(reader.stringForKey("absent"), std::nullopt);
    EXPECT_TRUE(console.lines().empty());
}

TEST_F(PreferenceStore, AHandEditedListReadsAsItsText) {
    fs::create_directories(fs::path(path).parent_path());
    writeFile(path, "[General]\napprunning=Mail, Notes\n");
    SettingsPreferenceStore store(path, console);
    EXPECT_EQ(store.stringForKey("apprunning"), "Mail, Notes");
}

// An administrator's defaults for every user: under the user's own values, key by key, the more
// important folder of XDG_CONFIG_DIRS first, and never written.
class SystemDefaults : public PreferenceStore {
protected:
    TemporaryDirectory system;
    const std::string site = system.path() + "/site/pellvane/Brimlow2.conf";
    const std::string vendor = system.path() + "/vendor/pellvane/Brimlow2.conf";
    ScopedEnvironment dirs{"XDG_CONFIG_DIRS",
                           (system.path() + "/site:relative:" + system.path() + "/vendor").c_str()};
    const std::string vendorDefaults = "[General]\nidleseconds=120\nhideicon=1\n";

    void SetUp() override {
        fs::create_directories(fs::path(site).parent_path());
        fs::create_directories(fs::path(vendor).parent_path());
        writeFile(vendor, vendorDefaults);
    }
};

TEST_F(SystemDefaults, GiveWhatTheUsersFileLacksAndAreNeverWritten) {
    ASSERT_EQ(systemPreferencesFilePaths(), (std::vector<std::string>{site, vendor}));
    const std::string siteDefaults = "[General]\nidleseconds=300\napprunning=Teams\n";
    writeFile(site, siteDefaults);
    fs::create_directories(fs::path(path).parent_path());
    writeFile(path, "[General]\napprunning=Mail\n");

    SettingsPreferenceStore store(path, console, systemPreferencesFilePaths());
    EXPECT_EQ(store.integerForKey("idleseconds"), 300);
    EXPECT_EQ(store.integerForKey("hideicon"), 1);
    EXPECT_EQ(store.stringForKey("apprunning"), "Mail");
    EXPECT_EQ(store.stringForKey("movedcount"), std::nullopt);
    store.setInteger("idleseconds", 45);
    store.setInteger("movedcount", store.integerForKey("movedcount") + 1);
    EXPECT_EQ(store.integerForKey("idleseconds"), 45);

    EXPECT_EQ(readFile(path), "[General]\napprunning=Mail\nidleseconds=45\nmovedcount=1\n");
    EXPECT_EQ(readFile(site), siteDefaults);
    EXPECT_EQ(readFile(vendor), vendorDefaults);
    for (const std::string& file : {site, vendor}) {
        EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(file).parent_path()),
                                fs::directory_iterator()),
                  1)
            << "something was written beside " << file;
    }
    EXPECT_TRUE(console.lines().empty());
}

TEST_F(SystemDefaults, OneThatIsBrokenOrNoFileIsSkippedWithOneLine) {
    const std::string broken = "[General\nidleseconds=300\n";
    for (const std::string kind : {"broken", "folder", "fifo"}) {
        fs::remove_all(site);
        if (kind == "broken") {
            writeFile(site, broken);
        } else if (kind == "folder") {
            fs::create_directory(site);
        } else {
            ASSERT_EQ(mkfifo(site.c_str(), 0600), 0);
        }
        RecordingConsole lines;
        SettingsPreferenceStore store(path, lines, systemPreferencesFilePaths());
        EXPECT_EQ(store.integerForKey("idleseconds"), 120) << kind;
        ASSERT_EQ(lines.lines().size(), 1u) << kind;
        EXPECT_TRUE(lines.lines().front().starts_with("System preferences file " + site))
            << lines.lines().front();
        EXPECT_TRUE(lines.lines().front().ends_with(": skipped it")) << lines.lines().front();
    }
    EXPECT_FALSE(fs::exists(path));
}

} // namespace
} // namespace brimlow::testing
