#pragma once

#include "Process.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// What the headless Wayland compositors of the tests (mutter, KWin, sway) have in common.
// Nothing here includes Qt, so X11 headers can sit beside it.
namespace brimlow::e2e {

// The value `name` has in `env`; nothing when it is unset.
std::optional<std::string> variableIn(const Environment& env, const std::string& name);

// A Wayland compositor without a screen, with one 1280x800 output, ended (with everything it
// started) with the object. Never touches the display of the process that starts it.
class HeadlessCompositor {
public:
    static constexpr int screenWidth = 1280;
    static constexpr int screenHeight = 800;

    virtual ~HeadlessCompositor();
    HeadlessCompositor(const HeadlessCompositor&) = delete;
    HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;

    pid_t pid() const { return process_->pid(); }
    // WAYLAND_DISPLAY for its clients: a socket name in the sandbox's runtime directory, or a
    // socket's absolute path.
    const std::string& waylandDisplay() const { return waylandDisplay_; }
    // From the start of the process to ready.
    Clock::duration startupTime() const { return startupTime_; }

    // What a program is started with to be a client of this session, as in a Wayland login:
    // the sandbox's environment with WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland,
    // XDG_CURRENT_DESKTOP naming the desktop and QT_QPA_PLATFORM=wayland; no DISPLAY.
    virtual Environment clientEnvironment() const;

    // Services the session bus of its clients starts from now on (the desktop portals) get the
    // session's environment (WAYLAND_DISPLAY, XDG_CURRENT_DESKTOP, QT_QPA_PLATFORM...) instead of
    // the bus's own, as a login's does, and Qt's accessibility, as for a screen reader's user, so
    // that a test can answer a Qt portal's dialogs over AT-SPI.
    void shareEnvironmentWithTheBus() const;

    // Everything the compositor has written (standard output and error), for failure messages.
    std::string log() const;

protected:
    // `name` for messages; `sessionEnvironment` is what its clients' environment starts from.
    HeadlessCompositor(std::string name, Environment sessionEnvironment, std::string desktop);

    // Starts `argv` with `env` (its log captured, the test's own display taken away) and returns
    // once `ready` holds, polled while it runs; throws with its log if it exits or is not ready
    // in time. `ready` may set the Wayland display.
    void start(std::vector<std::string> argv, Environment env, const std::function<bool()>& ready);
    void setWaylandDisplay(std::string display) { waylandDisplay_ = std::move(display); }
    Child& process() { return *process_; }

private:
    std::string name_;
    Environment sessionEnvironment_;
    std::string desktop_;
    std::string waylandDisplay_;
    std::unique_ptr<Child> process_;
    Clock::duration startupTime_{};
};

// The Debian package of the first program in `programs` (each with its package) that is not on
// PATH; nothing when all are there.
std::optional<std::string>
firstMissingPackage(const std::vector<std::pair<std::string, std::string>>& programs);

// A socket name for a compositor of this process's that no other compositor (of any test run)
// takes.
std::string uniqueWaylandDisplay();

} // namespace brimlow::e2e
