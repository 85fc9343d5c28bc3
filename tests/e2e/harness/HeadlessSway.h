#pragma once

#include "HeadlessCompositor.h"
#include "Sandbox.h"

#include <optional>
#include <string>

// The wlroots compositor sway without a screen, for the tests of the program as a Wayland
// client.
namespace brimlow::e2e {

// The Debian package this machine lacks to run the tests against headless sway, or nothing.
std::optional<std::string> missingSwayPackage();

// sway on wlroots' headless backend with one 1280x800 output. Sway refuses to run as root, so it
// runs as nobody, with a home and runtime directory of that user's; its clients (the program
// and the test, root) reach its socket by absolute path in WAYLAND_DISPLAY and keep the
// sandbox's own runtime directory.
class HeadlessSway : public HeadlessCompositor {
public:
    // Returns once sway's Wayland socket is there (a client that connects before sway's first
    // round is answered when it comes); throws with sway's log if it never gets there.
    explicit HeadlessSway(const Sandbox& sandbox);

    static constexpr unsigned nobody = 65534;

private:
    // Owned by nobody: sway's home, runtime directory and configuration.
    TempDir dir_;
};

} // namespace brimlow::e2e
