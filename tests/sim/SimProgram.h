#pragma once

#include "app/shell/Brimlow.h"
#include "platform/sim/SimDesktop.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace brimlow::testing {

// The program on a simulated desktop. The desktop is set up first, then start() runs the
// program's launch; the test drives the clock with advance().
struct SimProgram {
    platform::sim::SimDesktop sim;
    std::unique_ptr<Brimlow> program;

    void start() {
        program = std::make_unique<Brimlow>(sim.desktop);
        program->main();
    }
    void advance(double seconds) { sim.advance(seconds); }

    MainVC& vc() { return *program->mainVC(); }
    AppDelegate& delegate() { return *program->delegate(); }
    platform::sim::SimInterface& ui() { return sim.interface; }
    platform::sim::SimWindow& window() { return sim.interface.simWindow(); }
    std::string stored(const std::string& key) {
        return sim.preferences.stringForKey(key).value_or("<absent>");
    }
    long countOf(const std::string& line) {
        auto lines = sim.console.lines();
        return std::count(lines.begin(), lines.end(), line);
    }
    platform::sim::SimStatusItem* statusItem() {
        return sim.statusBar.items.empty() ? nullptr : sim.statusBar.items.back();
    }
    void grantAccess() {
        sim.postEventAccess.answer = platform::Access::granted;
        sim.postEventAccess.trusted = true;
    }
    static platform::RunningApplication
    app(const std::string& path,
        platform::ActivationPolicy policy = platform::ActivationPolicy::regular) {
        return {path, std::nullopt, policy};
    }
};

} // namespace brimlow::testing
