#include "HeadlessWlroots.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

void giveToNobody(const std::filesystem::path& path) {
    if (chown(path.c_str(), HeadlessWlroots::nobody, HeadlessWlroots::nobody) != 0) {
        throw std::runtime_error("cannot give " + path.string() + " to nobody");
    }
}

const char* programOf(WlrootsCompositor compositor) {
    switch (compositor) {
    case WlrootsCompositor::sway:
        return "sway";
    case WlrootsCompositor::labwc:
        return "labwc";
    case WlrootsCompositor::wayfire:
        return "wayfire";
    case WlrootsCompositor::hyprland:
        return "Hyprland";
    }
    return "";
}

// The DRM device wayfire draws on: a GPU's render node, else the primary node of a display
// without one (a virtual machine's), on which Mesa draws in software.
std::optional<std::filesystem::path> drawingDevice() {
    std::optional<std::filesystem::path> primary;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("renderD")) {
            return entry.path();
        }
        if (name.starts_with("card") && !primary) {
            primary = entry.path();
        }
    }
    return primary;
}

// Nobody, in the groups that may open the DRM devices.
std::vector<std::string> asNobody() {
    std::vector<std::string> argv{"setpriv", "--reuid=" + std::to_string(HeadlessWlroots::nobody),
                                  "--regid=" + std::to_string(HeadlessWlroots::nobody)};
    std::string groups;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec)) {
        struct stat node {};
        const std::string group =
            stat(entry.path().c_str(), &node) == 0 ? std::to_string(node.st_gid) : "";
        if (!group.empty() && ("," + groups + ",").find("," + group + ",") == std::string::npos) {
            groups += (groups.empty() ? "" : ",") + group;
        }
    }
    argv.push_back(groups.empty() ? "--clear-groups" : "--groups=" + groups);
    argv.emplace_back("--");
    return argv;
}

} // namespace

std::optional<std::string> missingWlrootsPackage(WlrootsCompositor compositor) {
    const std::string program = programOf(compositor);
    std::vector<std::pair<std::string, std::string>> programs{
        {program, compositor == WlrootsCompositor::hyprland ? "hyprland" : program},
        {"setpriv", "util-linux"}};
    if (compositor != WlrootsCompositor::sway) {
        programs.emplace_back("wlr-randr", "wlr-randr");
    }
    return firstMissingPackage(programs);
}

std::optional<std::string> missingWlrootsDevice(WlrootsCompositor compositor) {
    if (compositor == WlrootsCompositor::wayfire && !drawingDevice()) {
        return "wayfire draws with OpenGL ES, and this machine has no DRM device (no GPU): "
               "scripts/test-in --vm runs it on a virtual machine's display";
    }
    // Taking a display from the desktop that runs on it would end that desktop's session.
    if (compositor == WlrootsCompositor::hyprland &&
        !std::getenv("BRIMLOW_TESTS_OWN_THE_DISPLAY")) {
        return "Hyprland has no headless mode, and no display here is the tests' own to take: "
               "scripts/test-in --vm runs it on a virtual machine's display";
    }
    return std::nullopt;
}

HeadlessWlroots::HeadlessWlroots(const Sandbox& sandbox, WlrootsCompositor compositor)
    : HeadlessCompositor(programOf(compositor), sandbox.environment(), programOf(compositor)) {
    const auto home = dir_.subdir("home");
    const auto runtime = dir_.subdir("runtime");
    std::vector<std::string> argv = asNobody();
    for (std::string& argument : commandLine(compositor)) {
        argv.push_back(std::move(argument));
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
        giveToNobody(entry.path());
    }
    giveToNobody(dir_.path());

    Environment env = sandbox.environment();
    env.set("HOME", home.string());
    env.set("XDG_RUNTIME_DIR", runtime.string());
    // The sandbox's are root's alone, as is its bus; without them the compositor keeps to its
    // home.
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "DBUS_SESSION_BUS_ADDRESS"}) {
        env.unset(name);
    }
    env.set("WLR_BACKENDS", "headless");
    env.set("WLR_HEADLESS_OUTPUTS", "1");
    env.set("WLR_LIBINPUT_NO_DEVICES", "1");
    // Wayfire has no other renderer than OpenGL ES, and headless it takes a DRM device only when
    // it is named; Mesa's software rendering is as good as a GPU's for its tests. Hyprland opens
    // its display through the machine's seat daemon. The others keep off the GPU.
    if (compositor == WlrootsCompositor::wayfire) {
        env.set("WLR_RENDER_DRM_DEVICE", drawingDevice().value_or("").string());
        env.set("WLR_RENDERER_ALLOW_SOFTWARE", "1");
    } else if (compositor == WlrootsCompositor::hyprland) {
        env.set("LIBSEAT_BACKEND", "seatd");
    } else {
        env.set("WLR_RENDERER", "pixman");
    }

    // The compositor picks the socket's name itself (wayland-0 or -1 in a runtime directory of
    // its own).
    start(std::move(argv), env, [&] {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(runtime, ec)) {
            const auto name = entry.path().filename().string();
            if (name.starts_with("wayland-") && entry.is_socket()) {
                setWaylandDisplay(entry.path().string());
                return true;
            }
        }
        return false;
    });
    if (compositor == WlrootsCompositor::hyprland) {
        waitForTheDisplay();
    } else if (compositor != WlrootsCompositor::sway) {
        sizeTheOutput(compositor);
    }
}

std::vector<std::string> HeadlessWlroots::commandLine(WlrootsCompositor compositor) const {
    if (compositor == WlrootsCompositor::labwc) {
        // Its built-in defaults, and none of the machine's configuration.
        return {"labwc", "--config-dir", dir_.subdir("labwc").string()};
    }
    // Hyprland takes a file so named for Lua.
    const auto config =
        dir_.path() / (compositor == WlrootsCompositor::hyprland ? "config.lua" : "config");
    std::ofstream out(config);
    if (compositor == WlrootsCompositor::hyprland) {
        // Windows that appear where they end up, and nothing it would start or show of its own.
        out << "hl.monitor({ output = \"\", mode = \"" << screenWidth << "x" << screenHeight
            << "\", position = \"0x0\", scale = 1 })\n"
            << "hl.config({ animations = { enabled = false }, xwayland = { enabled = false },\n"
            << "  misc = { disable_hyprland_logo = true, disable_splash_rendering = true,\n"
            << "           force_default_wallpaper = 0, disable_watchdog_warning = true } })\n";
    } else if (compositor == WlrootsCompositor::wayfire) {
        // No plugins: the core's own window management, which shows a fullscreen client fullscreen.
        out << "[core]\nplugins =\nxwayland = false\n";
    } else {
        out << "output HEADLESS-1 resolution " << screenWidth << "x" << screenHeight
            << " position 0 0\n"
            << "xwayland disable\n";
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + config.string());
    }
    return {programOf(compositor), "-c", config.string()};
}

std::unique_ptr<Child> HeadlessWlroots::randr(const std::vector<std::string>& arguments) const {
    SpawnOptions options;
    options.argv = {"wlr-randr"};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.env.set("WAYLAND_DISPLAY", waylandDisplay());
    options.captureStdout = true;
    options.stderrToStdout = true;
    auto randr = std::make_unique<Child>(options);
    randr->waitForExit(10s);
    randr->waitForOutputEnd(5s);
    return randr;
}

void HeadlessWlroots::sizeTheOutput(WlrootsCompositor compositor) const {
    const auto sized = randr({"--output", "HEADLESS-1", "--custom-mode",
                              std::to_string(screenWidth) + "x" + std::to_string(screenHeight)});
    if (sized->waitForExit(0s) != 0) {
        throw std::runtime_error(std::string("wlr-randr could not size the output of ") +
                                 programOf(compositor) + ":" + transcriptOf(*sized) +
                                 "\nits log:\n" + log());
    }
}

void HeadlessWlroots::waitForTheDisplay() const {
    std::string said;
    const bool shown = pollUntil(
        Clock::now() + 30s,
        [&] {
            const auto listed = randr({});
            said = transcriptOf(*listed);
            const auto lines = listed->lines();
            return std::ranges::any_of(
                lines, [](const OutputLine& line) { return line.text == "  Enabled: yes"; });
        },
        500ms);
    if (!shown) {
        throw std::runtime_error("Hyprland never showed its display; wlr-randr said:" + said +
                                 "\nits log:\n" + log());
    }
}

} // namespace brimlow::e2e
