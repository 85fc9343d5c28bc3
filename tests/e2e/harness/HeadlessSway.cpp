#include "HeadlessSway.h"

#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace brimlow::e2e {
namespace {

void giveToNobody(const std::filesystem::path& path) {
    if (chown(path.c_str(), HeadlessSway::nobody, HeadlessSway::nobody) != 0) {
        throw std::runtime_error("cannot give " + path.string() + " to nobody");
    }
}

} // namespace

std::optional<std::string> missingSwayPackage() {
    return firstMissingPackage({{"sway", "sway"}, {"setpriv", "util-linux"}});
}

HeadlessSway::HeadlessSway(const Sandbox& sandbox)
    : HeadlessCompositor("sway", sandbox.environment(), "sway") {
    const auto home = dir_.subdir("home");
    const auto runtime = dir_.subdir("runtime");
    const auto config = dir_.path() / "config";
    {
        std::ofstream out(config);
        out << "output HEADLESS-1 resolution " << screenWidth << "x" << screenHeight
            << " position 0 0\n"
            << "xwayland disable\n";
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + config.string());
        }
    }
    for (const auto& path : {dir_.path(), home, runtime, config}) {
        giveToNobody(path);
    }

    Environment env = sandbox.environment();
    env.set("HOME", home.string());
    env.set("XDG_RUNTIME_DIR", runtime.string());
    // The sandbox's are root's alone, as is its bus; without them sway keeps to its home.
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "DBUS_SESSION_BUS_ADDRESS"}) {
        env.unset(name);
    }
    env.set("WLR_BACKENDS", "headless");
    env.set("WLR_HEADLESS_OUTPUTS", "1");
    env.set("WLR_LIBINPUT_NO_DEVICES", "1");
    env.set("WLR_RENDERER", "pixman");

    // Sway picks the socket's name itself (wayland-1 in a runtime directory of its own).
    start({"setpriv", "--reuid=" + std::to_string(nobody), "--regid=" + std::to_string(nobody),
           "--clear-groups", "--", "sway", "-c", config.string()},
          env, [&] {
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
}

} // namespace brimlow::e2e
