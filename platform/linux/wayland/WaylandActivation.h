#pragma once

#include <string>

class QWindow;

namespace brimlow::platform::linuxdesktop {

// Asks the compositor to give `window`, one of Qt's on its Wayland platform, the focus with an
// activation token (xdg_activation_v1) that another client of the session was given. The
// compositor decides: a token it did not hand out, or one it no longer honours, leaves the focus
// where it is. False when it could not be asked: the window has no Wayland surface yet, or the
// compositor offers no xdg_activation_v1. Main thread only.
bool activateWithToken(QWindow& window, const std::string& token);

} // namespace brimlow::platform::linuxdesktop
