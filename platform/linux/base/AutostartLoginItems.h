#pragma once

#include "platform/LoginItems.h"

#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart: where XDG desktops look for what to start
// at login.
std::string autostartDirectory();
// $XDG_CONFIG_DIRS/autostart for each folder of XDG_CONFIG_DIRS (/etc/xdg when unset or empty), the
// most important first: the entries there are the system's, for every user.
std::vector<std::string> systemAutostartDirectories();

// A login item is an XDG autostart entry, <autostart>/<helper's identifier>.desktop, that runs
// the helper found by its identifier in the program's bundle, under Contents/Library/LoginItems.
// An entry that already runs that helper is left as it is, so a user who turned it off in the
// desktop's settings (Hidden=true, X-GNOME-Autostart-enabled=false) keeps it off; any other
// entry of that name is replaced atomically, and stays off if it was. A new entry starts off when
// the first system autostart folder with an entry of that name has it turned off: that is how an
// administrator turns start at login off for everyone, who may each turn it on again. Main
// thread only.
class AutostartLoginItems final : public LoginItems {
public:
    // `name` and `icon` are what the desktop shows for the entry in its start-up settings.
    AutostartLoginItems(std::string bundlePath, std::string autostartDirectory, std::string name,
                        std::string icon, std::vector<std::string> systemDirectories = {});

    LoginItemResult enable(const std::string& helperBundleIdentifier) override;

private:
    std::string bundlePath_;
    std::string autostartDirectory_;
    std::string name_;
    std::string icon_;
    std::vector<std::string> systemDirectories_;
};

} // namespace brimlow::platform::linuxdesktop
