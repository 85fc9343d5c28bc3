#pragma once

#include <string>

namespace brimlow::platform {

struct LoginItemResult {
    bool enabled = false;
    // Why it could not be enabled, in one line; empty when it was.
    std::string failure;
};

// Helper programs, shipped inside the program's own bundle, that the desktop starts whenever the
// user logs in. Main thread only.
class LoginItems {
public:
    virtual ~LoginItems() = default;
    // From now on the helper with this bundle identifier starts at every login. A user who turned
    // it off in the desktop's own settings keeps it off: that counts as enabled here.
    virtual LoginItemResult enable(const std::string& helperBundleIdentifier) = 0;
};

} // namespace brimlow::platform
