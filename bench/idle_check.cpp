// Times one idle tick with an application named in the preferences window, walking the real
// /proc, against 100, 500 and 2,000 of the user's processes. Needs DISPLAY (the walk asks the
// X server which processes own windows). Prints figures; judges nothing.

#include "app/shell/Brimlow.h"
#include "platform/linux/base/ProcWorkspace.h"
#include "platform/linux/x11/X11Session.h"
#include "platform/sim/SimDesktop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace brimlow;
using Clock = std::chrono::steady_clock;

// Counts the walks, so the figures show that an active user costs none.
class CountingWorkspace final : public platform::Workspace {
public:
    explicit CountingWorkspace(platform::Workspace& real) : real_(real) {}
    std::vector<platform::RunningApplication> runningApplications() override {
        ++walks;
        return real_.runningApplications();
    }
    bool launchApplication(const std::string& path) override {
        return real_.launchApplication(path);
    }
    int walks = 0;

private:
    platform::Workspace& real_;
};

int usersProcessCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (std::all_of(name.begin(), name.end(), ::isdigit) &&
            std::filesystem::status(entry.path()).type() == std::filesystem::file_type::directory) {
            struct stat status {};
            if (stat(entry.path().c_str(), &status) == 0 && status.st_uid == getuid()) {
                ++count;
            }
        }
    }
    return count;
}

// Sleeping children that stay until the benchmark ends them.
class Sleepers {
public:
    void growTo(int total) {
        for (int missing = total - usersProcessCount(); missing > 0; --missing) {
            pid_t child = fork();
            if (child == 0) {
                pause();
                _exit(0);
            }
            if (child > 0) {
                children_.push_back(child);
            }
        }
    }
    ~Sleepers() {
        for (pid_t child : children_) {
            kill(child, SIGKILL);
        }
        for (pid_t child : children_) {
            waitpid(child, nullptr, 0);
        }
    }

private:
    std::vector<pid_t> children_;
};

struct Figures {
    double medianMicroseconds;
    double worstMicroseconds;
};

template <typename Tick> Figures time(int rounds, Tick tick) {
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        tick();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

} // namespace

int main() {
    platform::sim::SimDesktop sim;
    platform::linuxdesktop::X11Session session(sim.console);
    if (!session.connected()) {
        std::fprintf(stderr, "bench_idle_check needs an X server: set DISPLAY\n");
        return 1;
    }
    platform::linuxdesktop::XWindowOwners windows(session);
    platform::linuxdesktop::ProcWorkspace procWorkspace(sim.console, &windows);
    CountingWorkspace workspace(procWorkspace);
    const platform::Desktop desktop = sim.with(workspace);
    sim.postEventAccess.answer = platform::Access::granted;
    Brimlow program(desktop);
    program.main();
    // A name nobody runs: every tick walks the whole list.
    sim.interface.userTypesApp("no-such-program");
    AppDelegate& delegate = *program.delegate();

    std::printf("%-10s %-14s %-14s %-16s %s\n", "processes", "median (us)", "worst (us)",
                "active user (us)", "walks while active");
    Sleepers sleepers;
    for (int processes : {100, 500, 2000}) {
        sleepers.growTo(processes);
        sim.idleClock.setIdleFor(3600);
        Figures idle = time(200, [&] { delegate.checkIdle(); });
        sim.idleClock.userInput();
        int walksBefore = workspace.walks;
        Figures active = time(200, [&] { delegate.checkIdle(); });
        std::printf("%-10d %-14.1f %-14.1f %-16.2f %d\n", usersProcessCount(),
                    idle.medianMicroseconds, idle.worstMicroseconds, active.medianMicroseconds,
                    workspace.walks - walksBefore);
    }
    std::printf("target: under 1000 us at 500 processes; no walk while the user is active\n");
    return 0;
}
