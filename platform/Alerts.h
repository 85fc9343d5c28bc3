#pragma once

#include <string>
#include <vector>

namespace brimlow::platform {

struct Alert {
    std::string messageText;
    std::string informativeText;
    // In order; none gives the single default button "OK".
    std::vector<std::string> buttons;
};

// The button that closed an alert: the first is 1000, the second 1001, and so on.
constexpr int alertFirstButtonReturn = 1000;
constexpr int alertSecondButtonReturn = 1001;

// Modal alerts. Main thread only.
class Alerts {
public:
    virtual ~Alerts() = default;
    // Shows the alert and returns when the user has closed it. Run-loop timers hold their ticks
    // meanwhile; the main queue runs no item inside this one.
    virtual int runModal(const Alert& alert) = 0;
};

} // namespace brimlow::platform
