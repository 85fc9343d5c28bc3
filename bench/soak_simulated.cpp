// Thirty days of the program on the simulated desktop at full speed: every idle tick, a nudge
// whenever the user has been away long enough, the window opened and closed every hour. Prints,
// day by day, the ticks counted (which must be exactly one every 2 s: no drift), the process's
// memory and its open descriptors, which must stay flat. It judges nothing.
//
//   bench_soak_simulated [--days N]     (default 30)

#include "Measure.h"
#include "app/shell/Brimlow.h"
#include "platform/sim/SimDesktop.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace brimlow;
namespace sim = platform::sim;

namespace {

// The services that would keep a record of everything: here they only count.
class CountingConsole final : public platform::Console {
public:
    void printLine(const std::string&) override { ++lines; }
    void printTickLine(const std::string&) override { ++ticks; }
    long long lines = 0;
    long long ticks = 0;
};

// A posted move is input like any other: the idle time starts again from it.
class CountingPointer final : public platform::PointerEvents {
public:
    explicit CountingPointer(sim::SimIdleClock& idle) : idle_(idle) {}
    void postMouseMovedBy(platform::Offset, DeliveryReport report) override {
        ++moves;
        idle_.userInput();
        report({});
    }
    long long moves = 0;

private:
    sim::SimIdleClock& idle_;
};

class MapPreferences final : public platform::PreferenceStore {
public:
    std::int64_t integerForKey(const std::string& key) override {
        auto found = values.find(key);
        return found == values.end() ? 0 : std::atoll(found->second.c_str());
    }
    void setInteger(const std::string& key, std::int64_t value) override {
        values[key] = std::to_string(value);
    }
    std::optional<std::string> stringForKey(const std::string& key) override {
        auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void setString(const std::string& key, const std::string& value) override {
        values[key] = value;
    }
    std::map<std::string, std::string> values;
};

} // namespace

int main(int argc, char** argv) {
    const int days = bench::numberOption(argc, argv, "--days", 30);
    sim::SimDesktop s;
    CountingConsole console;
    CountingPointer pointer(s.idleClock);
    MapPreferences preferences;
    preferences.values["idleseconds"] = "60";
    const platform::Desktop desktop = s.with(console, pointer, preferences);
    s.postEventAccess.answer = platform::Access::granted;
    Brimlow program(desktop);
    program.main();
    // The server never answers; its requests stay recorded, and are let go of here.
    s.http.sent.clear();

    std::printf("%4s %12s %10s %12s %12s %6s\n", "day", "ticks", "nudges", "VmRSS (kB)",
                "RssAnon (kB)", "fds");
    const double hour = 3600;
    for (int day = 1; day <= days; ++day) {
        for (int h = 0; h < 24; ++h) {
            // At work from 9 to 17, with input every 10 s; away otherwise.
            const bool working = h >= 9 && h < 17;
            for (double t = 0; t < hour; t += 10) {
                if (working) {
                    s.idleClock.userInput();
                }
                s.advance(10);
            }
            s.interface.userChoosesPreferences();
            s.interface.simWindow().close();
        }
        // The simulated application records every policy it is given, for tests to read.
        s.application.policies.clear();
        std::printf("%4d %12lld %10lld %12.0f %12.0f %6ld\n", day, console.ticks, pointer.moves / 2,
                    bench::statusMb(0, "VmRSS") * 1024, bench::statusMb(0, "RssAnon") * 1024,
                    bench::openDescriptors(0));
    }
    const long long expected = static_cast<long long>(days) * 86400 / 2;
    std::printf("ticks: %lld of %lld expected (%s)\n", console.ticks, expected,
                console.ticks == expected ? "no drift" : "DRIFT");
    return 0;
}
