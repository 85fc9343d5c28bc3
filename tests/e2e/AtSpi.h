#pragma once

#include "harness/Geometry.h"

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

} // namespace brimlow::e2e
