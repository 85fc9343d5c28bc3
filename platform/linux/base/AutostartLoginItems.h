#pragma once

#include "platform/LoginItems.h"

#include <string>

namespace brimlow::platform::linuxdesktop {

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart: where XDG desktops look for what to start
// at login.
std::string autostartDirectory();

// A login item is an XDG autostart entry, <autostart>/<helper's identifier>.desktop, that runs
// the helper found by its identifier in the program's bundle, under Contents/Library/LoginItems.
// An entry that already runs that helper is left as it is, so a user who turned it off in the
// desktop's settings (Hidden=true, X-GNOME-Autostart-enabled=false) keeps it off; any other
// entry of that name is replaced atomically, and stays off if it was. Main thread only.
class AutostartLoginItems final : public LoginItems {
public:
    // `name` and `icon` are what the desktop shows for the entry in its start-up settings.
    AutostartLoginItems(std::string bundlePath, std::string autostartDirectory, std::string name,
                        std::string icon);

    LoginItemResult enable(const std::string& helperBundleIdentifier) override;

private:
    std::string bundlePath_;
    std::string autostartDirectory_;
    std::string name_;
    std::string icon_;
};

} // namespace brimlow::platform::linuxdesktop
