#include "HeadlessWlroots.h"

#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

void giveToNobody(const std::filesystem::path& path) {
    if (chown(path.c_str(), HeadlessWlroots::nobody, HeadlessWlroots::nobody) != 0) {
        throw std::runtime_error("cannot give " + path.string() + " to nobody");
    }
}

const char* programOf(WlrootsCompositor compositor) {
    return compositor == WlrootsCompositor::sway ? "sway" : "labwc";
}

} // namespace

std::optional<std::string> missingWlrootsPackage(WlrootsCompositor compositor) {
    std::vector<std::pair<std::string, std::string>> programs{
        {programOf(compositor), programOf(compositor)}, {"setpriv", "util-linux"}};
    if (compositor == WlrootsCompositor::labwc) {
        programs.emplace_back("wlr-randr", "wlr-randr");
    }
    return firstMissingPackage(programs);
}

HeadlessWlroots::HeadlessWlroots(const Sandbox& sandbox, WlrootsCompositor compositor)
    : HeadlessCompositor(programOf(compositor), sandbox.environment(), programOf(compositor)) {
    const auto home = dir_.subdir("home");
    const auto runtime = dir_.subdir("runtime");
    std::vector<std::string> argv{"setpriv", "--reuid=" + std::to_string(nobody),
                                  "--regid=" + std::to_string(nobody), "--clear-groups", "--"};
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
    env.set("WLR_RENDERER", "pixman");

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
    if (compositor == WlrootsCompositor::labwc) {
        sizeTheOutput();
    }
}

std::vector<std::string> HeadlessWlroots::commandLine(WlrootsCompositor compositor) const {
    if (compositor == WlrootsCompositor::labwc) {
        // Its built-in defaults, and none of the machine's configuration.
        return {"labwc", "--config-dir", dir_.subdir("labwc").string()};
    }
    const auto config = dir_.path() / "config";
    std::ofstream out(config);
    out << "output HEADLESS-1 resolution " << screenWidth << "x" << screenHeight
        << " position 0 0\n"
        << "xwayland disable\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + config.string());
    }
    return {"sway", "-c", config.string()};
}

void HeadlessWlroots::sizeTheOutput() const {
    SpawnOptions options;
    options.argv = {"wlr-randr", "--output", "HEADLESS-1", "--custom-mode",
                    std::to_string(screenWidth) + "x" + std::to_string(screenHeight)};
    options.env.set("WAYLAND_DISPLAY", waylandDisplay());
    options.captureStdout = true;
    options.stderrToStdout = true;
    Child randr(options);
    if (randr.waitForExit(10s) != 0) {
        std::string said;
        for (const OutputLine& line : randr.lines()) {
            said += line.text + "\n";
        }
        throw std::runtime_error("wlr-randr could not size labwc's output:\n" + said +
                                 "labwc's log:\n" + log());
    }
}

} // namespace brimlow::e2e
