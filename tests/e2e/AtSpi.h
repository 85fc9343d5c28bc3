#pragma once

#include "harness/Geometry.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brimlow::e2e {

// One top-level object as assistive technology (a screen reader) sees it over AT-SPI.
struct AccessibleObject {
    std::string name;
    std::string roleName;
    // Screen coordinates.
    Rect extents;
};

// The top-level accessible objects that process `pid` publishes on the accessibility bus of
// the session bus at `sessionBusAddress`; empty while it publishes none.
std::vector<AccessibleObject> topLevelAccessibles(const std::string& sessionBusAddress, pid_t pid);

// An accessible object with everything below it, as a screen reader walks a window.
struct AccessibleNode {
    // Where the object lives on the accessibility bus; what doAccessibleAction() takes.
    std::string path;
    std::string name;
    std::string roleName;
    // Screen coordinates.
    Rect extents;
    // On screen, as far as the program knows (AT-SPI's "showing" state).
    bool showing = false;
    // The names of the actions it offers ("Press" for a button).
    std::vector<std::string> actions;
    std::vector<AccessibleNode> children;
};

// The top-level objects of `pid` with everything below them; empty while it publishes none.
std::vector<AccessibleNode> accessibleTrees(const std::string& sessionBusAddress, pid_t pid);

// The first node, depth first, for which `match` holds; nothing if none does.
const AccessibleNode* findAccessible(const std::vector<AccessibleNode>& trees,
                                     const std::function<bool(const AccessibleNode&)>& match);

// Every node's name in `tree` (the node's own first), depth first, skipping empty ones.
std::vector<std::string> accessibleNames(const AccessibleNode& tree);

// One line per node, indented by depth, for failure messages.
std::string describe(const std::vector<AccessibleNode>& trees);

// Performs the action named `action` of the object at `path` in `pid`, as assistive technology
// does; false if the object, its action or the call failed.
bool doAccessibleAction(const std::string& sessionBusAddress, pid_t pid, const std::string& path,
                        const std::string& action);

} // namespace brimlow::e2e
