#include "TestSupport.h"
#include "platform/linux/qt/SettingsPreferenceStore.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

namespace brimlow::testing {
namespace {

namespace fs = std::filesystem;
using platform::linuxdesktop::preferencesFilePath;
using platform::linuxdesktop::SettingsPreferenceStore;

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

} // namespace
} // namespace brimlow::testing
