#pragma once

#include <string>

namespace brimlow::platform {

enum class Access { granted = 0, denied = 1, undecided = 2 };

// Posted on the session's DistributedNotifications whenever the permission may have changed:
// the user answered a request, or took a granted permission back.
inline constexpr const char* accessChangedNotification = "com.apple.accessibility.api";

// The user's permission for this program to post synthetic input events. Main thread only.
class PostEventAccess {
public:
    virtual ~PostEventAccess() = default;
    // Asks silently.
    virtual Access check() = 0;
    // Asks the system to prompt the user, if it will. The answer comes later, as an
    // accessChangedNotification.
    virtual void request() = 0;
    // True once the program may post events.
    virtual bool isTrusted() = 0;

    // For the alerts that explain the permission, in words true for the mechanism in use: what
    // happens once the user goes on from the alert that precedes request() (a sentence), and
    // where the user grants the permission (to follow "grant this permission from").
    virtual std::string requestOutcome() = 0;
    virtual std::string grantPlace() = 0;
};

} // namespace brimlow::platform
