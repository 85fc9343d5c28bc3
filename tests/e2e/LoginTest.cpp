#include "DesktopTest.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sys/wait.h>

namespace brimlow::e2e {
namespace {

bool printed(const Child& program, const std::string& text) {
    auto lines = program.lines();
    return std::any_of(lines.begin(), lines.end(), [&](auto& line) { return line.text == text; });
}

// The program as a desktop starts it at login: through its autostart entry, run by dex as
// session managers without their own autostart support do, with the launcher in between.
class Login : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!findProgram("dex")) {
            GTEST_SKIP() << "dex is not installed (package dex)";
        }
        sandbox = std::make_unique<Sandbox>(displayName());
        env = sandbox->environment();
        // Nothing of this machine's own autostart folder may start.
        env.set("XDG_CONFIG_DIRS", (noSystemConfig.path() / "xdg").string());
    }

    void TearDown() override {
        for (pid_t pid : processesRunning(program)) {
            kill(pid, SIGTERM);
        }
        sandbox.reset();
        DesktopTest::TearDown();
    }

    // Runs every autostart entry of the session, as at login; dex returns once it has started
    // them. In a session of its own, so that what it starts is not ended with it.
    void logIn() {
        SpawnOptions options;
        options.argv = {"setsid", "--wait", "dex", "--autostart"};
        options.env = env;
        Child dex(options);
        ASSERT_EQ(dex.waitForExit(10s), 0);
    }

    std::size_t running(const std::filesystem::path& executable) {
        return processesRunning(executable).size();
    }

    // After `settle`, `brimlows` programs and no launcher have run for a whole second.
    bool settlesOn(std::size_t brimlows, Clock::duration settle) {
        const auto deadline = Clock::now() + settle;
        Clock::time_point steadySince = Clock::now();
        return pollUntil(deadline, [&] {
            if (running(program) != brimlows || running(launcher) != 0) {
                steadySince = Clock::now();
            }
            return Clock::now() - steadySince >= 1s;
        });
    }

    TempDir noSystemConfig;
    std::unique_ptr<Sandbox> sandbox;
    Environment env;
    const std::filesystem::path program = programPath();
    const std::filesystem::path launcher =
        program.parent_path().parent_path() /
        "Library/LoginItems/BrimlowLauncher.app/Contents/MacOS/BrimlowLauncher";
};

TEST_F(Login, TheLauncherStartsBrimlowOnceAndBrimlowEndsIt) {
    {
        auto first = startProgram(env);
        ASSERT_TRUE(pollUntil(Clock::now() + 5s, [&] { return printed(*first, "true"); }))
            << "the login item was not reported in place" << transcript(*first);
    }
    ASSERT_EQ(running(program), 0u);

    logIn();
    EXPECT_TRUE(settlesOn(1, 10s)) << running(program) << " Brimlow and " << running(launcher)
                                   << " launchers after logging in";

    // The entry run again while Brimlow runs: that launcher quits at once, nothing new starts.
    const auto before = processesRunning(program);
    logIn();
    EXPECT_TRUE(settlesOn(1, 3s)) << running(program) << " Brimlow and " << running(launcher)
                                  << " launchers";
    EXPECT_EQ(processesRunning(program), before);
}

// The per-tick line would put 43,200 lines a day into the journal; every other line still goes.
TEST_F(Login, TheJournalGetsEveryLineButTheIdleTicks) {
    SpawnOptions journal;
    journal.argv = {program.string()};
    journal.env = env;
    journal.captureStdout = true;
    journal.stdoutIsJournal = true;
    Child toJournal(journal);
    ASSERT_TRUE(pollUntil(Clock::now() + 5s, [&] { return printed(toJournal, "true"); }))
        << transcript(toJournal);
    std::this_thread::sleep_for(4500ms);
    EXPECT_TRUE(idleLines(toJournal).empty()) << transcript(toJournal);
    toJournal.stop();

    // Another stream named as the journal: this output is not it.
    Sandbox other(displayName());
    Environment elsewhere = other.environment();
    elsewhere.set("JOURNAL_STREAM", "8:12345");
    auto toPipe = startProgram(elsewhere);
    EXPECT_TRUE(waitForIdleLines(*toPipe, 1, Clock::now() + 5s)) << transcript(*toPipe);
}

} // namespace
} // namespace brimlow::e2e
