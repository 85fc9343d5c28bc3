// The program and its launcher started from a terminal as a newcomer starts them: with
// arguments, and over ssh with no desktop session at all.
#include "harness/Process.h"
#include "harness/Sandbox.h"

#include <gtest/gtest.h>

namespace brimlow::e2e {

std::string transcript(const Child& program);

namespace {

constexpr int abortStatus = 128 + 6;

class CommandLine : public ::testing::Test {
protected:
    // An ssh login: no display, no compositor, no session bus, and Qt left to choose.
    Environment withoutSession() const {
        Environment env = sandbox.environment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"}) {
            env.unset(name);
        }
        return env;
    }

    struct Answer {
        int status = -1;
        std::vector<std::string> lines;
    };

    Answer run(const Environment& env, const std::vector<std::string>& args) {
        auto program = startProgram(env, args);
        Answer answer;
        auto status = program->waitForExit(5s);
        EXPECT_TRUE(status) << "still running after 5 s" << transcript(*program);
        answer.status = status.value_or(-1);
        EXPECT_NE(answer.status, abortStatus) << "aborted" << transcript(*program);
        EXPECT_TRUE(program->waitForOutputEnd(5s)) << "its output is still open after it exited";
        for (const auto& line : program->lines()) {
            answer.lines.push_back(line.text);
        }
        EXPECT_FALSE(std::filesystem::exists(sandbox.preferencesFile()))
            << "the preference file was written";
        return answer;
    }

    Sandbox sandbox{""};
};

// Answered without a display or a bus to open: neither is there.
TEST_F(CommandLine, AnswersHelpAndVersionAndRefusesAnythingElse) {
    Answer help = run(withoutSession(), {"--help"});
    EXPECT_EQ(help.status, 0);
    ASSERT_FALSE(help.lines.empty());
    EXPECT_EQ(help.lines.front(), "Usage: brimlow [--help | --version]");

    Answer version = run(withoutSession(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.lines, std::vector<std::string>{"Brimlow " BRIMLOW_PROJECT_VERSION});

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--frobnicate"}, {"--version", "now"}, {"file.txt"}}) {
        Answer refused = run(withoutSession(), args);
        EXPECT_EQ(refused.status, 2) << args.back();
        EXPECT_EQ(refused.lines, std::vector<std::string>{"brimlow: unexpected argument '" +
                                                          args.back() + "'; try 'brimlow --help'"});
    }
}

TEST_F(CommandLine, WithoutADisplaySaysSoInOneLineAndExits) {
    Answer answer = run(withoutSession(), {});
    EXPECT_EQ(answer.status, 1);
    EXPECT_EQ(answer.lines,
              std::vector<std::string>{"brimlow: no display to open its window on (DISPLAY is "
                                       "not set, WAYLAND_DISPLAY is not set): start Brimlow "
                                       "inside a desktop session, from its menu or a terminal "
                                       "there"});
}

TEST_F(CommandLine, TheLauncherWithoutASessionBusSaysSoInOneLineAndExits) {
    SpawnOptions options;
    options.argv = {(programPath().parent_path().parent_path() /
                     "Library/LoginItems/BrimlowLauncher.app/Contents/MacOS/BrimlowLauncher")
                        .string()};
    options.env = withoutSession();
    options.captureStdout = true;
    options.stderrToStdout = true;
    Child launcher(options);
    auto status = launcher.waitForExit(5s);
    ASSERT_TRUE(status) << "the launcher waits without a bus" << transcript(launcher);
    EXPECT_EQ(*status, 1);
    EXPECT_TRUE(launcher.waitForOutputEnd(5s)) << "its output is still open after it exited";
    const auto lines = launcher.lines();
    ASSERT_EQ(lines.size(), 1u) << transcript(launcher);
    EXPECT_EQ(lines.front().text,
              "BrimlowLauncher: No D-Bus session bus: it starts Brimlow at login inside a "
              "desktop session; start Brimlow from the desktop's menu or with brimlow there");
    EXPECT_TRUE(processesRunning(programPath()).empty()) << "the launcher started Brimlow";
}

} // namespace
} // namespace brimlow::e2e
