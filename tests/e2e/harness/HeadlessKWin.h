#pragma once

#include "HeadlessCompositor.h"
#include "Sandbox.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// KDE Plasma's compositor without a screen, for the tests of the program as a Wayland client.
namespace brimlow::e2e {

class QtBusConnection;

// The Debian package this machine lacks to run the tests against headless KWin, or nothing.
std::optional<std::string> missingKWinPackage();

// kwin_wayland --virtual with one 1280x800 output, on a sandbox's session bus and runtime
// directory.
//
// KWin offers its fake input (org_kde_kwin_fake_input, the only way to move its pointer without
// asking the user) to installed programs alone: to a client whose executable an installed
// desktop entry names in Exec= and allows the interface in X-KDE-Wayland-Interfaces=. It looks
// the entries up through its own XDG_DATA_DIRS, so the constructor writes one for each of
// `fakeInputClients` into a directory of its own and puts that first there, with a menu that
// lists them (KDE's service index knows only the applications of a menu) first in
// XDG_CONFIG_DIRS.
//
// KWin 6 starts the desktop portal itself as it starts (for the settings it reads from it), so a
// portal that has to find the session (KDE's backend, for one) needs the session's environment
// shared with the bus before KWin starts: `portals`.
enum class Portals { outsideTheSession, inTheSession };

class HeadlessKWin : public HeadlessCompositor {
public:
    // Returns once KWin answers on the bus (org.kde.KWin has an owner) and its Wayland socket
    // takes clients; throws with KWin's log if it never gets there. Throws std::invalid_argument
    // for an executable whose path a desktop entry cannot hold as a plain quoted argument.
    explicit HeadlessKWin(const Sandbox& sandbox,
                          const std::vector<std::filesystem::path>& fakeInputClients = {},
                          Portals portals = Portals::outsideTheSession);
    ~HeadlessKWin() override;

private:
    // KWin's own files: a copy of its executable, the desktop entries and the menu.
    TempDir dir_;
    std::unique_ptr<QtBusConnection> bus_;
};

} // namespace brimlow::e2e
