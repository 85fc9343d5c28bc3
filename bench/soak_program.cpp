// The real program under Xvfb with a tray host for ten minutes: its window opened (by starting
// it again, as from the desktop's menu) and closed (as by the window manager's close button)
// every few seconds, and nudges firing every 15 s of idle time. Prints resident memory and open
// descriptors minute by minute: after the first minute memory must grow by less than 1 MB and
// descriptors not at all. It judges nothing.
//
//   bench_soak_program [--minutes N]     (default 10)

#include "Measure.h"
#include "harness/Process.h"
#include "harness/Sandbox.h"
#include "harness/XServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

using namespace brimlow::e2e;

namespace {

int run(int minutes) {
    VirtualServer server;
    TrayHost tray(server.displayName());
    XConnection x(server.displayName());
    Sandbox sandbox(server.displayName());
    sandbox.writePreferences({{"idleseconds", "15"}, {"movedcount", "1"}});
    Environment env = sandbox.environment();
    env.set("BRIMLOW_SERVER_HOST", "127.0.0.1:9");
    auto program = startProgram(env);
    const pid_t pid = program->pid();
    // A second start before the first has claimed its name would take over from it instead;
    // by its first idle tick it has.
    const auto ticked = [&] {
        for (const auto& line : program->lines()) {
            if (!line.text.empty() &&
                line.text.find_first_not_of("0123456789.") == std::string::npos) {
                return true;
            }
        }
        return false;
    };
    if (!pollUntil(Clock::now() + 10s, ticked)) {
        std::fprintf(stderr, "the program never read the idle time\n");
        return 1;
    }

    std::printf("%6s %12s %12s %6s %8s %8s\n", "minute", "VmRSS (kB)", "RssAnon (kB)", "fds",
                "windows", "nudges");
    double firstRss = 0;
    long firstFds = 0;
    int windows = 0;
    for (int minute = 1; minute <= minutes; ++minute) {
        const auto end = program->startedAt() + std::chrono::minutes(minute);
        while (Clock::now() < end && program->running()) {
            // Opened as from the menu: a second start hands over and the window comes up.
            auto again = startProgram(env);
            again->waitForExit(5s);
            std::optional<Window> shown;
            pollUntil(Clock::now() + 3s,
                      [&] { return (shown = preferencesWindow(x, pid)).has_value(); });
            if (shown) {
                ++windows;
                x.requestClose(*shown);
                pollUntil(Clock::now() + 3s, [&] { return !preferencesWindow(x, pid); });
            }
            std::this_thread::sleep_for(3s);
        }
        if (!program->running()) {
            std::fprintf(stderr, "the program ended during the run (status %d); it printed:\n",
                         program->waitForExit(0s).value_or(-1));
            for (const auto& line : program->lines()) {
                std::fprintf(stderr, "  %s\n", line.text.c_str());
            }
            return 1;
        }
        const double rss = brimlow::bench::statusMb(pid, "VmRSS") * 1024;
        const long fds = brimlow::bench::openDescriptors(pid);
        if (minute == 1) {
            firstRss = rss;
            firstFds = fds;
        }
        // The count started at 1.
        const long nudges = std::atol(sandbox.readPreferences()["movedcount"].c_str()) - 1;
        std::printf("%6d %12.0f %12.0f %6ld %8d %8ld\n", minute, rss,
                    brimlow::bench::statusMb(pid, "RssAnon") * 1024, fds, windows, nudges);
    }
    const double grown = brimlow::bench::statusMb(pid, "VmRSS") * 1024 - firstRss;
    std::printf("after the first minute: resident memory %+.0f kB (target < 1024 kB: %s), "
                "descriptors %+ld (target 0: %s)\n",
                grown, grown < 1024 ? "met" : "MISSED",
                brimlow::bench::openDescriptors(pid) - firstFds,
                brimlow::bench::openDescriptors(pid) == firstFds ? "met" : "MISSED");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int minutes = brimlow::bench::numberOption(argc, argv, "--minutes", 10);
    becomeSubreaper();
    int status = 1;
    try {
        status = run(minutes);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_soak_program: %s\n", error.what());
    }
    collectLeftoverChildren(5s);
    return status;
}
