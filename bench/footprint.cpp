// How much the program costs the machine it keeps awake: start-up time to the tray icon,
// memory after start-up and CPU at start and while idling. Runs the real program in a session of
// its own, and prints figures; it judges nothing. The session is X11 (Xvfb with a trayer tray)
// or, with --gnome-wayland, GNOME on Wayland (headless mutter with a StatusNotifierItem tray).
//
//   bench_footprint [--gnome-wayland] [--idle-seconds N]     (default 60)

// clang-format off
// Qt before Xlib, whose macros (Bool, Status) break Qt's headers.
#include <QCoreApplication>
// clang-format on

#include "Measure.h"
#include "harness/HeadlessMutter.h"
#include "harness/Process.h"
#include "harness/Sandbox.h"
#include "harness/StatusNotifierWatcher.h"
#include "harness/XServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace brimlow::e2e;

namespace {

constexpr auto settleTime = 10s;
// Often enough to time the icon to a few milliseconds, seldom enough not to slow the program.
constexpr auto embedPollInterval = 5ms;

struct CpuTime {
    double allThreadsMs = 0;
    double mainThreadMs = 0;
};

// Time on CPU in ms, from the first field of schedstat (nanoseconds).
double schedstatMs(const std::filesystem::path& file) {
    std::ifstream in(file);
    unsigned long long ns = 0;
    in >> ns;
    return double(ns) / 1e6;
}

CpuTime cpuTime(pid_t pid) {
    const std::filesystem::path proc = "/proc/" + std::to_string(pid);
    CpuTime cpu;
    cpu.mainThreadMs = schedstatMs(proc / "schedstat");
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(proc / "task", ec)) {
        cpu.allThreadsMs += schedstatMs(task.path() / "schedstat");
    }
    return cpu;
}

void printFigure(const char* what, double value, const char* unit, double target) {
    std::printf("  %-36s %8.1f %-3s (target < %g %s: %s)\n", what, value, unit, target, unit,
                value < target ? "met" : "MISSED");
}

struct Options {
    bool gnomeWayland = false;
    int idleSeconds = 60;
};

Options optionsFrom(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gnome-wayland") == 0) {
            options.gnomeWayland = true;
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0 && i + 1 < argc) {
            options.idleSeconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--gnome-wayland] [--idle-seconds N]\n", argv[0]);
            std::exit(2);
        }
    }
    return options;
}

// A user who has been nudged before: the preferences window stays closed, and a threshold of an
// hour keeps nudges out of the idle measurement.
void writeSettledPreferences(const Sandbox& sandbox) {
    sandbox.writePreferences({{"idleseconds", "3600"}, {"movedcount", "1"}});
}

int measure(Child& program, const char* session, int idleSeconds, double idleCpuTarget);

int runOnX11(int idleSeconds) {
    VirtualServer server;
    TrayHost tray(server.displayName());
    XConnection x(server.displayName());
    Sandbox sandbox(server.displayName());
    writeSettledPreferences(sandbox);
    auto program = startProgram(sandbox.environment());
    if (!pollUntil(
            program->startedAt() + 10s, [&] { return embeddedIcon(x, program->pid()).has_value(); },
            embedPollInterval)) {
        std::fprintf(stderr, "the tray icon was not embedded within 10 s\n");
        return 1;
    }
    return measure(*program, "own Xvfb with trayer and session bus", idleSeconds, 20);
}

int runOnGnomeWayland(int idleSeconds) {
    // The tray watcher and the harness's bus connections are Qt D-Bus.
    int argc = 1;
    char name[] = "bench_footprint";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    Sandbox sandbox("");
    writeSettledPreferences(sandbox);
    HeadlessMutter mutter(sandbox);
    StatusNotifierWatcher tray(mutter.busAddress());
    auto program = startProgram(mutter.clientEnvironment());
    if (!pollUntil(
            program->startedAt() + 10s, [&] { return !tray.items().empty(); }, embedPollInterval)) {
        std::fprintf(stderr, "the tray item did not register within 10 s\n");
        return 1;
    }
    return measure(*program, "own headless mutter with a StatusNotifierItem watcher", idleSeconds,
                   10);
}

// From the moment the program is in the tray.
int measure(Child& program, const char* session, int idleSeconds, double idleCpuTarget) {
    const pid_t pid = program.pid();
    const double toTrayMs = secondsBetween(program.startedAt(), Clock::now()) * 1000;
    const CpuTime startCpu = cpuTime(pid);

    std::this_thread::sleep_until(program.startedAt() + settleTime);
    const double rssMb = brimlow::bench::statusMb(pid, "VmRSS");
    const double anonMb = brimlow::bench::statusMb(pid, "RssAnon");
    const double fileMb = brimlow::bench::statusMb(pid, "RssFile");
    const CpuTime idleFrom = cpuTime(pid);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const CpuTime idleTo = cpuTime(pid);
    if (!program.running()) {
        std::fprintf(stderr, "the program ended during the measurement\n");
        return 1;
    }
    const double idleMs = idleTo.allThreadsMs - idleFrom.allThreadsMs;

    std::printf("Brimlow footprint: %s\n", programPath().c_str());
    std::printf("  (%s; idleseconds=3600, movedcount=1, so no window and no nudge)\n", session);
    printFigure("start to tray icon", toTrayMs, "ms", 250);
    printFigure("resident memory (VmRSS) after 10 s", rssMb, "MB", 30);
    printFigure("anonymous memory (RssAnon) after 10 s", anonMb, "MB", 8);
    std::printf("  %-36s %8.1f MB  (mapped files: libraries, ICU data)\n", "of it RssFile", fileMb);
    printFigure("CPU to start (in the tray)", startCpu.allThreadsMs, "ms", 150);
    std::printf("  %-36s %8.1f ms  (main thread alone)\n", "", startCpu.mainThreadMs);
    const double perMinute = idleMs * 60.0 / idleSeconds;
    std::printf("  CPU over %d s idling: %.1f ms\n", idleSeconds, idleMs);
    printFigure("CPU per idle minute", perMinute, "ms", idleCpuTarget);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = optionsFrom(argc, argv);
    becomeSubreaper();
    int status = 1;
    try {
        status = options.gnomeWayland ? runOnGnomeWayland(options.idleSeconds)
                                      : runOnX11(options.idleSeconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_footprint: %s\n", error.what());
    }
    // Anything the servers or the program left behind goes too.
    collectLeftoverChildren(5s);
    return status;
}
