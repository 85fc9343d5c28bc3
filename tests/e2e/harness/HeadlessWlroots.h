#pragma once

#include "HeadlessCompositor.h"
#include "Sandbox.h"

#include <optional>
#include <string>

// Compositors built on wlroots, without a screen, for the tests of the program as a Wayland
// client.
namespace brimlow::e2e {

enum class WlrootsCompositor { sway, labwc };

// The Debian package this machine lacks to run the tests against `compositor`, or nothing.
std::optional<std::string> missingWlrootsPackage(WlrootsCompositor compositor);

// The compositor on wlroots' headless backend with one 1280x800 output. Sway refuses to run as
// root, so each runs as nobody, with a home and runtime directory of that user's; its clients
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
    // labwc leaves outputs to the user's tools.
    void sizeTheOutput() const;

    // Owned by nobody: the compositor's home, runtime directory and configuration.
    TempDir dir_;
};

} // namespace brimlow::e2e
