#include "NoInput.h"

#include <cstdlib>
#include <cstring>

namespace brimlow::platform::linuxdesktop {

bool isWaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display != nullptr && *display != '\0') ||
           (type != nullptr && std::strcmp(type, "wayland") == 0);
}

} // namespace brimlow::platform::linuxdesktop
