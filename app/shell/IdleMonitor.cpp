#include "AppDelegate.h"
#include "app/ui/MainVC.h"
#include "platform/Text.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace brimlow {
namespace {

// Idle times come in whole milliseconds on every desktop. Below 10^5 s these are written with
// integer arithmetic, the same text as the general case gives: a tick then leaves to_chars's
// tables alone, which an idle program finds cold in the cache every 2 seconds.
std::optional<std::string> millisecondDecimal(double seconds) {
    if (!(seconds >= 0 && seconds < 1e5)) {
        return std::nullopt;
    }
    const long long ms = std::llround(seconds * 1000);
    if (double(ms) / 1000 != seconds) {
        return std::nullopt;
    }
    std::string text = std::to_string(ms / 1000) + '.';
    int fraction = int(ms % 1000);
    int digits = 3;
    for (; digits > 1 && fraction % 10 == 0; --digits) {
        fraction /= 10;
    }
    const std::string fractionText = std::to_string(fraction);
    text.append(std::size_t(digits) - fractionText.size(), '0');
    return text + fractionText;
}

// The shortest text that reads back as the same number, always marked as a fraction
// ("3.0", not "3") so the line reads as seconds, not a count.
std::string shortestDecimal(double seconds) {
    if (auto text = millisecondDecimal(seconds)) {
        return *text;
    }
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".eEn") == std::string::npos) {
        text += ".0";
    }
    return text;
}

} // namespace

void AppDelegate::checkIdle() {
    double idleSeconds = desktop_.idleClock.secondsSinceLastInput();
    desktop_.console.printTickLine(shortestDecimal(idleSeconds));
    if (mainVC == nullptr) {
        return;
    }
    if (mainVC->idleStepper->doubleValue() > idleSeconds) {
        return;
    }
    if (!mainVC->exclaimBtn->isHidden()) {
        return;
    }
    // A locked screen shows the user as away whatever moves, and a move would only light it up.
    if (desktop_.sessionLock.isLocked()) {
        return;
    }
    if (mainVC->appRunningCombo->stringValue().empty() || requiredApplicationRuns()) {
        nudgeMouse();
    }
}

// Matches executable file names, so a program is found whatever its window calls it.
// Applications whose executable can't be read are passed over.
bool AppDelegate::requiredApplicationRuns() {
    const std::string wanted = platform::text::composed(
        platform::text::trimmedOfWhitespaceAndNewlines(mainVC->appRunningCombo->stringValue()));
    for (const auto& app : desktop_.workspace.runningApplications()) {
        auto name = app.executableFileName();
        if (name && platform::text::composed(*name) == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace brimlow
