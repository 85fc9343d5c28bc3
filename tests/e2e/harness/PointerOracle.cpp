#include "PointerOracle.h"

#include <charconv>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace brimlow::e2e {
namespace {

constexpr auto mapTimeout = 10s;

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

std::optional<std::filesystem::path> pointerOraclePath() {
#ifdef BRIMLOW_POINTER_ORACLE
    return BRIMLOW_POINTER_ORACLE;
#else
    return std::nullopt;
#endif
}

PointerOracle::PointerOracle(const Environment& env) {
    auto path = pointerOraclePath();
    if (!path) {
        throw std::logic_error(
            "built without the pointer oracle (libwayland-dev, wayland-protocols)");
    }
    SpawnOptions options;
    options.argv = {path->string()};
    options.env = env;
    options.captureStdout = true;
    oracle_ = std::make_unique<Child>(options);
    std::optional<Rect> mapped;
    pollUntil(oracle_->startedAt() + mapTimeout, [&] {
        for (const auto& line : oracle_->lines()) {
            if ((mapped = mappedSurface(line.text))) {
                return true;
            }
        }
        return !oracle_->running();
    });
    if (!mapped) {
        throw std::runtime_error("the pointer oracle's surface never came on screen; it printed:" +
                                 transcript());
    }
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

std::string PointerOracle::transcript() const {
    std::string text;
    for (const auto& line : oracle_->lines()) {
        text += "\n  " + line.text;
    }
    return text.empty() ? " (nothing)" : text;
}

} // namespace brimlow::e2e
