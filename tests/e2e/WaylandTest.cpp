#include "WaylandTest.h"

#include <algorithm>

namespace brimlow::e2e {
namespace {

const std::string warningLabel = "Permission needed\u2026";

bool isShownWarning(const AccessibleNode& node) {
    return node.roleName == "push button" && node.name == warningLabel && node.showing;
}

} // namespace

std::vector<std::string> WaylandTest::linesStarting(const Child& program,
                                                    const std::string& beginning) {
    std::vector<std::string> found;
    for (const auto& line : program.lines()) {
        if (line.text.starts_with(beginning)) {
            found.push_back(line.text);
        }
    }
    return found;
}

std::vector<PointerEvent> WaylandTest::movesAfter(const PointerOracle& oracle, std::size_t seen) {
    auto events = oracle.events();
    events.erase(events.begin(), events.begin() + std::ptrdiff_t(seen));
    std::erase_if(events, [](auto& e) { return e.kind == PointerEvent::Kind::Leave; });
    return events;
}

std::optional<AccessibleNode>
WaylandTest::waitForAccessible(const std::string& busAddress, const Child& program,
                               const std::function<bool(const AccessibleNode&)>& match) {
    std::optional<AccessibleNode> found;
    pollUntil(
        Clock::now() + 8s,
        [&] {
            published = accessibleTrees(busAddress, program.pid());
            const AccessibleNode* node = findAccessible(published, match);
            found = node != nullptr ? std::optional(*node) : std::nullopt;
            return found.has_value();
        },
        200ms);
    return found;
}

bool WaylandTest::warningShown(const std::string& busAddress, const Child& program) {
    published = accessibleTrees(busAddress, program.pid());
    return findAccessible(published, isShownWarning) != nullptr;
}

std::optional<AccessibleNode> WaylandTest::pressTheWarning(const std::string& busAddress,
                                                           const Child& program) {
    auto warning = waitForAccessible(busAddress, program, isShownWarning);
    if (!warning || !doAccessibleAction(busAddress, program.pid(), warning->path, "Press")) {
        ADD_FAILURE() << "no warning to press:\n" << describe(published) << transcript(program);
        return std::nullopt;
    }
    auto alert = waitForAccessible(
        busAddress, program, [](const AccessibleNode& node) { return isAlertRole(node.roleName); });
    if (!alert) {
        ADD_FAILURE() << "no alert came up:\n" << describe(published) << transcript(program);
    }
    return alert;
}

} // namespace brimlow::e2e
