#pragma once

#include <functional>

namespace brimlow::platform::linuxdesktop {

// What a service that talks over a socket needs from the main loop it runs on: to hear when the
// socket has something to read, and to run work after the work running now has returned.
// Main thread only.
class MainLoopEvents {
public:
    using Work = std::function<void()>;

    virtual ~MainLoopEvents() = default;
    // `ready` runs whenever `fd` can be read without blocking (or has failed), until
    // unwatchReadable(fd). One watch per descriptor.
    virtual void watchReadable(int fd, Work ready) = 0;
    virtual void unwatchReadable(int fd) = 0;
    // `work` runs soon, never inside the work that is running now.
    virtual void post(Work work) = 0;
};

} // namespace brimlow::platform::linuxdesktop
