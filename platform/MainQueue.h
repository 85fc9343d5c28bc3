#pragma once

#include <functional>

namespace brimlow::platform {

// The main thread's serial work queue. Items run one at a time, in the order they became
// due, each after the work that is running has returned: an item never starts inside another
// one, so an item that runs a modal alert holds the queue until the alert has closed.
class MainQueue {
public:
    using Work = std::function<void()>;

    virtual ~MainQueue() = default;
    // Safe from any thread.
    virtual void async(Work work) = 0;
    // Joins the queue once `seconds` have passed. Safe from any thread.
    virtual void asyncAfter(double seconds, Work work) = 0;
};

} // namespace brimlow::platform
