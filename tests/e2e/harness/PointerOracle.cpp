#include "PointerOracle.h"

#include "HeadlessCompositor.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace brimlow::e2e {
namespace {

// Hyprland in a virtual machine draws its first frames in software under emulation, slowly.
constexpr auto startTimeout = 30s;

// "enter 12.00 34.50" after the word: two numbers and nothing else.
std::optional<SurfacePoint> pointAfter(std::string_view text) {
    SurfacePoint at;
    const char* end = text.data() + text.size();
    auto first = std::from_chars(text.data(), end, at.x);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ') {
        return std::nullopt;
    }
    auto second = std::from_chars(first.ptr + 1, end, at.y);
    if (second.ec != std::errc() || second.ptr != end) {
        return std::nullopt;
    }
    return at;
}

std::optional<Rect> mappedSurface(const std::string& line) {
    constexpr std::string_view word = "mapped ";
    if (!line.starts_with(word)) {
        return std::nullopt;
    }
    auto size = pointAfter(std::string_view(line).substr(word.size()));
    if (!size || size->x <= 0 || size->y <= 0) {
        return std::nullopt;
    }
    return Rect{0, 0, int(size->x), int(size->y)};
}

// Starts a client of the test's own with its complaints beside its output, and returns it once
// it prints a line for which `ready` holds; throws with what it printed otherwise.
std::unique_ptr<Child> startClient(std::vector<std::string> argv, const Environment& env,
                                   const std::function<bool(const std::string&)>& ready,
                                   const std::string& failure) {
    SpawnOptions options;
    options.argv = std::move(argv);
    options.env = env;
    options.captureStdout = true;
    options.stderrToStdout = true;
    auto client = std::make_unique<Child>(options);
    bool seen = false;
    pollUntil(client->startedAt() + startTimeout, [&] {
        const bool running = client->running();
        const auto lines = client->lines();
        seen = std::any_of(lines.begin(), lines.end(),
                           [&](const OutputLine& line) { return ready(line.text); });
        return seen || !running;
    });
    if (!seen) {
        throw std::runtime_error(failure + "; it printed:" + transcriptOf(*client));
    }
    return client;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const SurfacePoint& at) {
    return out << "(" << at.x << ", " << at.y << ")";
}

std::optional<PointerEvent> parsePointerLine(const OutputLine& line) {
    const std::string_view text = line.text;
    if (text == "leave") {
        return PointerEvent{PointerEvent::Kind::Leave, {}, line.at};
    }
    for (auto [word, kind] : {std::pair{std::string_view("enter "), PointerEvent::Kind::Enter},
                              std::pair{std::string_view("motion "), PointerEvent::Kind::Motion}}) {
        if (text.starts_with(word)) {
            if (auto at = pointAfter(text.substr(word.size()))) {
                return PointerEvent{kind, *at, line.at};
            }
        }
    }
    return std::nullopt;
}

std::optional<IdleReport> parseIdleLine(const OutputLine& line) {
    if (line.text == "idle" || line.text == "resumed") {
        return IdleReport{line.text == "idle", line.at};
    }
    return std::nullopt;
}

std::filesystem::path pointerOraclePath() {
    return BRIMLOW_POINTER_ORACLE;
}

std::filesystem::path pointerPlacerPath() {
    return BRIMLOW_POINTER_PLACER;
}

PointerOracle::PointerOracle(const Environment& env, Focus focus) {
    std::vector<std::string> argv{pointerOraclePath().string()};
    if (focus == Focus::followed) {
        argv.emplace_back("--focus");
    }
    std::optional<Rect> mapped;
    oracle_ = startClient(
        std::move(argv), env,
        [&](const std::string& line) {
            if (auto surface = mappedSurface(line)) {
                mapped = surface;
            }
            return mapped.has_value();
        },
        "the pointer oracle's surface never came on screen as fullscreen");
    surface_ = *mapped;
}

std::vector<PointerEvent> PointerOracle::events() const {
    std::vector<PointerEvent> found;
    for (const auto& line : oracle_->lines()) {
        if (auto event = parsePointerLine(line)) {
            found.push_back(*event);
        }
    }
    return found;
}

bool PointerOracle::waitForEvents(std::size_t count, Clock::time_point deadline) const {
    return pollUntil(
        deadline, [&] { return events().size() >= count; }, 10ms);
}

std::optional<SurfacePoint> PointerOracle::position() const {
    const auto all = events();
    if (all.empty() || all.back().kind == PointerEvent::Kind::Leave) {
        return std::nullopt;
    }
    return all.back().at;
}

bool PointerOracle::waitForPosition(SurfacePoint at, Clock::time_point deadline) const {
    return pollUntil(
        deadline, [&] { return position() == at; }, 10ms);
}

std::vector<IdleReport> PointerOracle::idleReports() const {
    std::vector<IdleReport> found;
    for (const auto& line : oracle_->lines()) {
        if (auto report = parseIdleLine(line)) {
            found.push_back(*report);
        }
    }
    return found;
}

bool PointerOracle::waitForFocus(bool focused, Clock::time_point deadline) const {
    return pollUntil(
        deadline,
        [&] {
            std::optional<bool> latest;
            for (const auto& line : oracle_->lines()) {
                if (line.text == "focused" || line.text == "unfocused") {
                    latest = line.text == "focused";
                }
            }
            return latest == focused;
        },
        10ms);
}

std::optional<std::string> PointerOracle::waitForActivationToken(Clock::time_point deadline) const {
    constexpr std::string_view word = "token ";
    std::optional<std::string> token;
    pollUntil(
        deadline,
        [&] {
            for (const auto& line : oracle_->lines()) {
                if (line.text.starts_with(word)) {
                    token = line.text.substr(word.size());
                }
            }
            return token.has_value();
        },
        10ms);
    return token;
}

std::string PointerOracle::transcript() const {
    return transcriptOf(*oracle_);
}

PointerPlacer::PointerPlacer(const Environment& env, SurfacePoint at)
    : placer_(startClient(
          {pointerPlacerPath().string(), std::to_string(int(at.x)), std::to_string(int(at.y)),
           std::to_string(HeadlessCompositor::screenWidth),
           std::to_string(HeadlessCompositor::screenHeight)},
          env, [](const std::string& line) { return line == "placed"; },
          "the pointer placer did not place the pointer")) {}

} // namespace brimlow::e2e
