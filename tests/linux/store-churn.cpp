// The program's logic nudging as fast as it can, on a simulated desktop whose idle time never
// resets, with the real preference store at $XDG_CONFIG_HOME/pellvane/Brimlow2.conf: every
// nudge's way back stores the count. It runs until it is killed, and prints each count it has
// stored, so a test can kill it at any moment and look at what it left.
#include "app/shell/Brimlow.h"
#include "platform/linux/qt/SettingsPreferenceStore.h"
#include "platform/sim/SimDesktop.h"

#include <cstdio>

using namespace brimlow;

int main() {
    platform::sim::SimDesktop sim;
    platform::linuxdesktop::SettingsPreferenceStore store(
        platform::linuxdesktop::preferencesFilePath(), sim.console);
    const platform::Desktop desktop = sim.with(store);
    sim.postEventAccess.answer = platform::Access::granted;
    sim.idleClock.setIdleFor(1e9);
    Brimlow program(desktop);
    program.main();
    for (;;) {
        // A tick nudges; a second later the way back stores the count.
        sim.advance(2);
        std::printf("%lld\n", static_cast<long long>(store.integerForKey("movedcount")));
        std::fflush(stdout);
    }
}
