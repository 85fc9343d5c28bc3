#pragma once

#include <functional>

namespace brimlow::platform {

// Whether the user's session is locked (or its screen saver is up). The answer is kept current
// by the desktop's own change signals, so asking costs nothing. Main thread only.
class SessionLock {
public:
    virtual ~SessionLock() = default;
    // False where the session can't tell.
    virtual bool isLocked() const = 0;
    // `changed` runs on the main thread after every change of isLocked(), for the life of the
    // program.
    virtual void observe(std::function<void()> changed) = 0;
};

} // namespace brimlow::platform
