// The program's logic nudging as fast as it can, on a simulated desktop whose idle time never
// resets, with the real preference store at $XDG_CONFIG_HOME/pellvane/Brimlow2.conf: every
// nudge's way back stores the count. It runs until it is killed, and writes one line to
// descriptor 3 once the first count is stored, so a test can time its kill from there however
// slowly the program started.
#include "app/shell/Brimlow.h"
#include "platform/linux/qt/SettingsPreferenceStore.h"
#include "platform/sim/SimDesktop.h"

#include <unistd.h>

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
    // A tick nudges; a second later the way back stores the count.
    while (store.integerForKey("movedcount") == 0) {
        sim.advance(2);
    }
    (void)!::write(3, "stored\n", 7);
    ::close(3);
    for (;;) {
        sim.advance(2);
    }
}
