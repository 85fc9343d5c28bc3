#pragma once

#include "HeadlessCompositor.h"
#include "Sandbox.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Compositors that offer wlroots' protocols, for the tests of the program as a Wayland client:
// those built on wlroots, without a screen, and Hyprland. Wayfire draws with OpenGL ES only, so it
// needs a DRM device even headless: a GPU's, or a virtual machine's display (scripts/test-in
// --vm), on which Mesa draws in software. Hyprland has no headless mode at all: it takes a
// display's DRM device through the machine's seat, which only a display of the tests' own may
// give it (the virtual machine's, whose first program says so in BRIMLOW_TESTS_OWN_THE_DISPLAY
// and runs seatd).
namespace brimlow::e2e {

enum class WlrootsCompositor { sway, labwc, wayfire, hyprland };

// The Debian package this machine lacks to run the tests against `compositor`, or nothing.
std::optional<std::string> missingWlrootsPackage(WlrootsCompositor compositor);
// What this machine lacks for `compositor` besides its packages: for wayfire, a DRM device; for
// Hyprland, a display of the tests' own.
std::optional<std::string> missingWlrootsDevice(WlrootsCompositor compositor);

// The compositor with one 1280x800 output (on wlroots' headless backend, or for Hyprland the
// display's). Sway, wayfire and Hyprland refuse to run as root, so each runs as nobody (in the DRM
// devices' groups), with a home and runtime directory of that user's; its clients (the program
// and the test, root) reach its socket by absolute path in WAYLAND_DISPLAY and keep the sandbox's
// own runtime directory.
class HeadlessWlroots : public HeadlessCompositor {
public:
    // Returns once the compositor's Wayland socket is there (a client that connects before its
    // first round is answered when it comes) and its output has its size; throws with its log if
    // it never gets there.
    HeadlessWlroots(const Sandbox& sandbox, WlrootsCompositor compositor);

    static constexpr unsigned nobody = 65534;

private:
    // The compositor's own command line, with its configuration written under dir_.
    std::vector<std::string> commandLine(WlrootsCompositor compositor) const;
    // Sizes the output as the user's tools do, before any client comes: labwc leaves that to
    // them, and a headless output has no modes for wayfire's configuration to pick from.
    void sizeTheOutput(WlrootsCompositor compositor) const;
    // Returns once Hyprland's display is on: its socket comes while it is still taking the
    // display, and until it has, clients wait on it.
    void waitForTheDisplay() const;
    // wlr-randr run with `arguments` against the compositor, ended (or given up on).
    std::unique_ptr<Child> randr(const std::vector<std::string>& arguments) const;

    // Owned by nobody: the compositor's home, runtime directory and configuration.
    TempDir dir_;
};

} // namespace brimlow::e2e
