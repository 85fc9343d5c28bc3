#pragma once

#include "HeadlessCompositor.h"
#include "Sandbox.h"

#include <optional>
#include <string>

// Compositors built on wlroots, without a screen, for the tests of the program as a Wayland
// client. Wayfire draws with OpenGL ES only, so it needs a DRM device even headless: a GPU's, or a
// virtual machine's display (scripts/test-in --vm), on which Mesa draws in software.
namespace brimlow::e2e {

enum class WlrootsCompositor { sway, labwc, wayfire };

// The Debian package this machine lacks to run the tests against `compositor`, or nothing.
std::optional<std::string> missingWlrootsPackage(WlrootsCompositor compositor);
// What this machine lacks for `compositor` besides its packages: for wayfire, a DRM device.
std::optional<std::string> missingWlrootsDevice(WlrootsCompositor compositor);

// The compositor on wlroots' headless backend with one 1280x800 output. Sway and wayfire refuse to
// run as root, so each runs as nobody (in the DRM devices' groups), with a home and runtime
// directory of that user's; its clients
// (the program and the test, root) reach its socket by absolute path in WAYLAND_DISPLAY and keep
// the sandbox's own runtime directory.
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

    // Owned by nobody: the compositor's home, runtime directory and configuration.
    TempDir dir_;
};

} // namespace brimlow::e2e
