#pragma once

namespace brimlow::platform {

enum class Access { granted = 0, denied = 1, undecided = 2 };

// The user's permission for this program to post synthetic input events.
class PostEventAccess {
public:
    virtual ~PostEventAccess() = default;
    // Asks silently.
    virtual Access check() = 0;
    // Asks the system to prompt the user, if it will.
    virtual void request() = 0;
    // True once the program may post events.
    virtual bool isTrusted() = 0;
};

} // namespace brimlow::platform
