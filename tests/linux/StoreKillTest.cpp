#include "TestSupport.h"
#include "platform/linux/qt/SettingsPreferenceStore.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace brimlow::testing {
namespace {

namespace fs = std::filesystem;

// The file as a strict reader sees it: nothing but the [General] header and key=value lines;
// nothing at all for anything else.
std::optional<std::map<std::string, std::string>> parsed(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "[General]") {
        return std::nullopt;
    }
    while (std::getline(lines, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            return std::nullopt;
        }
        keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

int kills() {
    const char* asked = std::getenv("BRIMLOW_STORE_KILLS");
    return asked != nullptr ? std::max(1, std::atoi(asked)) : 100;
}

// SIGKILL at random moments of a program that stores a count many times a second, then a look
// at the file it left: it always parses, keeps every key the user set, and its count never goes
// back (each write replaces the whole file, so a kill loses at most the write under way).
TEST(StoreUnderKill, EveryKillLeavesAWholeFileAndACountThatNeverGoesBack) {
    TemporaryDirectory home;
    const std::string file = home.path() + "/pellvane/Brimlow2.conf";
    fs::create_directories(fs::path(file).parent_path());
    const std::map<std::string, std::string> userSet{
        {"idleseconds", "15"}, {"hideicon", "1"}, {"noupdateprompt", "2.1"}};
    std::string initial = "[General]\n";
    for (const auto& [key, value] : userSet) {
        initial += key + "=" + value + "\n";
    }
    writeFile(file, initial);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> moment(0, 40);
    long long count = 0;
    long long launches = 0;
    for (int kill = 0; kill < kills(); ++kill) {
        {
            ChildProcess churn({BRIMLOW_STORE_CHURN}, {"XDG_CONFIG_HOME=" + home.path()}, 3);
            std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
            ::kill(churn.pid(), SIGKILL);
        }
        const std::string text = readFile(file);
        auto keys = parsed(text);
        ASSERT_TRUE(keys) << "after kill " << kill << " the file reads:\n" << text;
        for (const auto& [key, value] : userSet) {
            ASSERT_EQ((*keys)[key], value) << "after kill " << kill << ":\n" << text;
        }
        const long long stored = std::atoll((*keys)["movedcount"].c_str());
        ASSERT_GE(stored, count) << "the count went back after kill " << kill;
        count = stored;
        const long long started = std::atoll((*keys)["launchcount"].c_str());
        ASSERT_GE(started, launches) << "the launch count went back after kill " << kill;
        launches = started;
    }
    EXPECT_GT(count, 0) << "the count was never stored";
    // A kill mid-write leaves the write's temporary file and lock; the next start clears the ones
    // no write is using any more.
    const fs::path folder = fs::path(file).parent_path();
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::last_write_time(entry.path(),
                            fs::last_write_time(entry.path()) - std::chrono::minutes(1));
    }
    {
        RecordingConsole console;
        platform::linuxdesktop::SettingsPreferenceStore store(file, console);
        EXPECT_EQ(store.integerForKey("movedcount"), count);
    }
    std::string beside;
    for (const auto& entry : fs::directory_iterator(folder)) {
        beside += " " + entry.path().filename().string();
    }
    EXPECT_EQ(beside, " Brimlow2.conf") << "leftovers of the killed writes stayed beside the file";
}

} // namespace
} // namespace brimlow::testing
