// How much the program costs the machine it keeps awake: start-up time to the tray icon,
// memory after start-up and CPU at start and while idling, beside the same figures of a bare tray
// icon of the same toolkit (bench_tray_floor), the least any such program costs, and of that icon
// with a timer that prints a line every 2 s (bench_tray_floor --tick), the least a program that
// looks at the idle time every 2 s costs. Runs them in a session of their own, and prints figures
// with the targets; it judges nothing. The session is X11
// (Xvfb with a trayer tray) or, with --gnome-wayland, GNOME on Wayland (headless mutter with a
// StatusNotifierItem tray).
//
//   bench_footprint [--gnome-wayland] [--idle-seconds N]     (default 60)

// clang-format off
// Qt before Xlib, whose macros (Bool, Status) break Qt's headers.
#include <QCoreApplication>
// clang-format on

#include "Measure.h"
#include "TestServer.h"
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
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

// The program's server on loopback, trusted through SSL_CERT_FILE, answers both start-up
// requests as a real one does: the configuration names no newer version, and the first launch
// is reported, so the cost of TLS and of reading certificates is in the figures.
class Server {
public:
    Server()
        : server_({"--config", "config\nno\n1.0\n" BRIMLOW_PROJECT_VERSION, "--page",
                   "/logistics/ln.php", "ok"}) {
        if (!server_.error.empty()) {
            throw std::runtime_error("the HTTPS server did not start: " + server_.error);
        }
    }
    Environment pointedAt(Environment env) const {
        env.set("BRIMLOW_SERVER_HOST", "127.0.0.1:" + std::to_string(server_.trustedPort));
        env.set("SSL_CERT_FILE", server_.caFile);
        return env;
    }

private:
    brimlow::testing::TestServer server_;
};

// A process from its start until it is in the tray, and what that cost.
struct InTray {
    std::unique_ptr<Child> process;
    double toTrayMs = 0;
    CpuTime startCpu;
};

struct Figures {
    InTray started;
    double rssMb = 0;
    double anonMb = 0;
    double fileMb = 0;
    double idleCpuMs = 0;
    double anonAfterIdleMb = 0;
};

// `shown` answers for the process's id whether its icon is in the tray.
std::optional<InTray> startIntoTray(SpawnOptions options, const std::function<bool(pid_t)>& shown,
                                    const char* what) {
    options.captureStdout = true;
    options.stderrToStdout = true;
    InTray started;
    started.process = std::make_unique<Child>(options);
    const pid_t pid = started.process->pid();
    if (!pollUntil(
            started.process->startedAt() + 10s, [&] { return shown(pid); }, embedPollInterval)) {
        std::fprintf(stderr, "%s was not in the tray within 10 s\n", what);
        return std::nullopt;
    }
    started.toTrayMs = secondsBetween(started.process->startedAt(), Clock::now()) * 1000;
    started.startCpu = cpuTime(pid);
    return started;
}

SpawnOptions programStart(const Environment& env) {
    SpawnOptions options;
    options.argv = {programPath().string()};
    options.env = env;
    return options;
}

// The same toolkit with nothing of the program's own: an icon of its, a tooltip and a menu;
// with `tick`, also a line every 2 s.
SpawnOptions floorStart(const Environment& env, bool tick) {
    SpawnOptions options;
    options.argv = {
        BRIMLOW_TRAY_FLOOR,
        (programPath().parent_path().parent_path() / "Resources/icons/trayicon-22.png").string()};
    if (tick) {
        options.argv.emplace_back("--tick");
    }
    options.env = env;
    return options;
}

struct Measured {
    const char* name;
    std::function<SpawnOptions(const Environment&)> start;
};

const Measured measured[] = {
    {"Brimlow", programStart},
    {"floor", [](const Environment& env) { return floorStart(env, false); }},
    {"2 s tick", [](const Environment& env) { return floorStart(env, true); }},
};

// All settle from the latest start, then idle side by side.
bool measure(std::vector<Figures>& all, int idleSeconds) {
    std::this_thread::sleep_until(all.back().started.process->startedAt() + settleTime);
    std::vector<CpuTime> idleFrom;
    for (Figures& figures : all) {
        const pid_t pid = figures.started.process->pid();
        figures.rssMb = brimlow::bench::statusMb(pid, "VmRSS");
        figures.anonMb = brimlow::bench::statusMb(pid, "RssAnon");
        figures.fileMb = brimlow::bench::statusMb(pid, "RssFile");
        idleFrom.push_back(cpuTime(pid));
    }
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    for (std::size_t i = 0; i < all.size(); ++i) {
        Child& process = *all[i].started.process;
        if (!process.running()) {
            std::fprintf(stderr, "a process ended during the measurement\n");
            return false;
        }
        all[i].idleCpuMs = cpuTime(process.pid()).allThreadsMs - idleFrom[i].allThreadsMs;
        all[i].anonAfterIdleMb = brimlow::bench::statusMb(process.pid(), "RssAnon");
    }
    return true;
}

template <typename Figure>
void printRow(const char* what, const std::vector<Figures>& all, Figure figure, const char* target,
              const char* format = " %10.1f") {
    std::printf("  %-44s", what);
    for (const Figures& figures : all) {
        std::printf(format, figure(figures));
    }
    std::printf("   %s\n", target);
}

void print(const char* session, const std::vector<Figures>& all, int idleSeconds) {
    std::printf("Brimlow footprint: %s\n", programPath().c_str());
    std::printf("  (%s, an HTTPS server on loopback; idleseconds=3600, movedcount=1, so no "
                "window and no nudge)\n",
                session);
    std::printf("  %-44s", "");
    for (const Measured& column : measured) {
        std::printf(" %10s", column.name);
    }
    std::printf("   target\n");
    printRow(
        "start to tray icon (ms)", all, [](auto& f) { return f.started.toTrayMs; }, "<= 100");
    printRow(
        "CPU to start, all threads (ms)", all,
        [](auto& f) { return f.started.startCpu.allThreadsMs; }, "");
    printRow(
        "  main thread alone (ms)", all, [](auto& f) { return f.started.startCpu.mainThreadMs; },
        "");
    printRow(
        "resident memory (VmRSS) after 10 s (MB)", all, [](auto& f) { return f.rssMb; }, "");
    printRow(
        "anonymous memory (RssAnon) after 10 s (MB)", all, [](auto& f) { return f.anonMb; },
        "<= 4");
    printRow(
        "  mapped files (RssFile) (MB)", all, [](auto& f) { return f.fileMb; }, "");
    const double perMinute = 60.0 / idleSeconds;
    printRow(
        "CPU per idle minute (ms)", all, [&](auto& f) { return f.idleCpuMs * perMinute; }, "<= 3");
    printRow(
        "RssAnon change over the idle time (MB)", all,
        [](auto& f) { return f.anonAfterIdleMb - f.anonMb; }, "flat", " %+10.2f");
}

// Brimlow, then the floors, each once the one before is in the tray; all then idle side by side.
int measureAll(const char* session, const Environment& env, const std::function<bool(pid_t)>& shown,
               int idleSeconds) {
    std::vector<Figures> all;
    for (const Measured& column : measured) {
        auto started = startIntoTray(column.start(env), shown, column.name);
        if (!started) {
            return 1;
        }
        Figures figures;
        figures.started = std::move(*started);
        all.push_back(std::move(figures));
    }
    if (!measure(all, idleSeconds)) {
        return 1;
    }
    print(session, all, idleSeconds);
    return 0;
}

int runOnX11(int idleSeconds) {
    VirtualServer server;
    TrayHost tray(server.displayName());
    XConnection x(server.displayName());
    Sandbox sandbox(server.displayName());
    writeSettledPreferences(sandbox);
    Server https;
    return measureAll(
        "own Xvfb with trayer and session bus", https.pointedAt(sandbox.environment()),
        [&](pid_t pid) { return embeddedIcon(x, pid).has_value(); }, idleSeconds);
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
    // Qt D-Bus names an item's service after its connection, not its process: the next item to
    // register is the one just started.
    std::size_t registered = 0;
    Server https;
    return measureAll(
        "own headless mutter with a StatusNotifierItem watcher",
        https.pointedAt(mutter.clientEnvironment()),
        [&](pid_t) {
            if (tray.items().size() <= registered) {
                return false;
            }
            registered = tray.items().size();
            return true;
        },
        idleSeconds);
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
