#include "DisplayServer.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <wayland-client.h>
#include <xcb/xcb.h>

namespace brimlow::platform::linuxdesktop {
namespace {

struct Platforms {
    bool x11 = false;
    bool wayland = false;
};

// QT_QPA_PLATFORM is a list of plugin names separated by ';', each with options after ':'.
Platforms platformsQtTries() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (chosen == nullptr || *chosen == '\0') {
        return {.x11 = true, .wayland = true};
    }
    Platforms platforms;
    std::string_view rest = chosen;
    while (!rest.empty()) {
        std::string_view name = rest.substr(0, rest.find(';'));
        rest.remove_prefix(std::min(rest.size(), name.size() + 1));
        name = name.substr(0, name.find(':'));
        platforms.x11 = platforms.x11 || name == "xcb";
        platforms.wayland = platforms.wayland || name.starts_with("wayland");
    }
    return platforms;
}

bool x11Reachable() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached;
}

bool waylandReachable() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return false;
    }
    wl_display_disconnect(display);
    return true;
}

// "no X server at DISPLAY=:5", or "DISPLAY is not set".
std::string missing(const char* server, const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0'
               ? std::string("no ") + server + " at " + variable + "=" + value
               : std::string(variable) + " is not set";
}

} // namespace

std::string missingDisplayServer() {
    const Platforms platforms = platformsQtTries();
    if (!platforms.x11 && !platforms.wayland) {
        return {};
    }
    if ((platforms.x11 && x11Reachable()) || (platforms.wayland && waylandReachable())) {
        return {};
    }
    std::string reasons;
    if (platforms.x11) {
        reasons = missing("X server", "DISPLAY");
    }
    if (platforms.wayland) {
        reasons += (reasons.empty() ? "" : ", ") + missing("Wayland compositor", "WAYLAND_DISPLAY");
    }
    return reasons;
}

} // namespace brimlow::platform::linuxdesktop
