#pragma once

#include <string>

namespace brimlow::platform::linuxdesktop {

// Why Qt would find no display server to open the window on, in a few words; empty when it
// would. Qt tries the X server at $DISPLAY and the Wayland compositor at $WAYLAND_DISPLAY
// (wayland-0 when unset), or only those QT_QPA_PLATFORM names; a platform of QT_QPA_PLATFORM
// that needs neither (offscreen, vnc) needs nothing here. Each is reached with a connection
// that is closed again at once.
std::string missingDisplayServer();

} // namespace brimlow::platform::linuxdesktop
