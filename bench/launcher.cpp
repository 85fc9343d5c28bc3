// What the login-item launcher costs at login: the time from its start until Brimlow's process
// exists, and its memory while it waits for Brimlow to tell it to quit. Runs the real launcher
// and program on a session bus of its own (Qt offscreen: no display needed), and prints figures;
// it judges nothing.
//
//   bench_launcher [--rounds N]     (default 20)

#include "Measure.h"
#include "harness/Process.h"
#include "harness/Sandbox.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace brimlow::e2e;
namespace fs = std::filesystem;

namespace {

// As fast as /proc can be walked, to time the spawn to a fraction of a millisecond.
constexpr auto spawnPollInterval = 0ms;

fs::path launcherOf(const fs::path& program) {
    return program.parent_path().parent_path() /
           "Library/LoginItems/BrimlowLauncher.app/Contents/MacOS/BrimlowLauncher";
}

std::unique_ptr<Child> startLauncher(const fs::path& launcher, const Environment& env) {
    SpawnOptions options;
    options.argv = {launcher.string()};
    options.env = env;
    options.captureStdout = true;
    return std::make_unique<Child>(options);
}

void endAll(const fs::path& executable) {
    for (pid_t pid : processesRunning(executable)) {
        kill(pid, SIGTERM);
    }
    pollUntil(Clock::now() + 5s, [&] { return processesRunning(executable).empty(); });
    collectLeftoverChildren(1s);
}

// Milliseconds from the launcher's start to the program's process, once per round.
std::vector<double> spawnTimes(int rounds) {
    const fs::path program = programPath();
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        Sandbox sandbox(":0");
        Environment env = sandbox.environment();
        env.set("QT_QPA_PLATFORM", "offscreen");
        env.set("BRIMLOW_SERVER_HOST", "127.0.0.1:9");
        auto launcher = startLauncher(launcherOf(program), env);
        if (!pollUntil(
                launcher->startedAt() + 5s, [&] { return !processesRunning(program).empty(); },
                spawnPollInterval)) {
            throw std::runtime_error("the launcher did not start the program within 5 s");
        }
        times.push_back(secondsBetween(launcher->startedAt(), Clock::now()) * 1000);
        // Brimlow ends the launcher; then the round's program goes too.
        launcher->waitForExit(5s);
        endAll(program);
    }
    return times;
}

// A launcher in a bundle of its own whose "Brimlow 2" only sleeps, so it waits for good.
double waitingMemoryMb(const char* field) {
    TempDir dir;
    const fs::path contents = dir.path() / "B.app/Contents";
    const fs::path helper = contents / "Library/LoginItems/L.app/Contents";
    fs::create_directories(helper / "MacOS");
    fs::create_directories(contents / "MacOS");
    fs::copy_file(launcherOf(programPath()), helper / "MacOS/L");
    fs::copy_file(launcherOf(programPath()).parent_path().parent_path() / "Info.plist",
                  helper / "Info.plist");
    const fs::path standIn = contents / "MacOS/Brimlow 2";
    std::ofstream(standIn) << "#!/bin/sh\nexec sleep 30\n";
    fs::permissions(standIn, fs::perms::owner_all);

    Sandbox sandbox(":0");
    auto launcher = startLauncher(helper / "MacOS/L", sandbox.environment());
    std::this_thread::sleep_for(1s);
    const double mb = brimlow::bench::statusMb(launcher->pid(), field);
    launcher->stop();
    endAll("/usr/bin/sleep");
    return mb;
}

void printFigure(const char* what, double value, const char* unit, double target) {
    std::printf("  %-40s %7.1f %-2s (target < %g %s: %s)\n", what, value, unit, target, unit,
                value < target ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = brimlow::bench::numberOption(argc, argv, "--rounds", 20);
    becomeSubreaper();
    try {
        std::vector<double> times = spawnTimes(rounds);
        std::sort(times.begin(), times.end());
        std::printf("Brimlow launcher: %s\n", launcherOf(programPath()).c_str());
        std::printf("  (%d rounds, each on a session bus of its own)\n", rounds);
        printFigure("launcher start to program process, median", times[times.size() / 2], "ms", 30);
        printFigure("launcher start to program process, worst", times.back(), "ms", 30);
        printFigure("resident memory (VmRSS) while waiting", waitingMemoryMb("VmRSS"), "MB", 8);
        std::printf("  %-40s %7.1f MB\n", "of it anonymous (RssAnon)", waitingMemoryMb("RssAnon"));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_launcher: %s\n", error.what());
        collectLeftoverChildren(5s);
        return 1;
    }
    collectLeftoverChildren(5s);
    return 0;
}
