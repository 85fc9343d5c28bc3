#pragma once

#include "platform/MainQueue.h"
#include "platform/RunLoopTimers.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace brimlow::platform::sim {

// The main thread's run loop on a virtual clock. Nothing runs until the test advances the
// clock; then main-queue items and timers run in the order they fall due, on the test's thread.
class SimRunLoop final : public MainQueue, public RunLoopTimers {
public:
    SimRunLoop() = default;
    SimRunLoop(const SimRunLoop&) = delete;
    SimRunLoop& operator=(const SimRunLoop&) = delete;

    double now() const { return now_; }
    // Runs everything that falls due within `seconds`, then sets the clock to that moment.
    void advance(double seconds);
    // A modal alert stays open for `seconds`: time passes, nothing runs.
    void passModalTime(double seconds);
    bool modalRunning() const { return modalDepth_ > 0; }
    std::size_t timerCount() const { return timers_.size(); }

    void async(Work work) override;
    void asyncAfter(double seconds, Work work) override;
    std::unique_ptr<RepeatingTimer> scheduleRepeating(double seconds, Tick tick) override;
    void scheduleOnce(double seconds, Tick tick) override;

private:
    struct Timer {
        double due;
        double interval;
        bool repeating;
        Tick tick;
    };
    struct Deferred {
        double due;
        Work work;
    };
    class Handle;

    void runReadyItems();
    bool runNextDueWithin(double until);
    std::uint64_t addTimer(double seconds, bool repeating, Tick tick);

    double now_ = 0;
    int modalDepth_ = 0;
    std::atomic<std::uint64_t> nextId_ = 1;
    std::map<std::uint64_t, Timer> timers_;
    std::map<std::uint64_t, Deferred> deferred_;
    std::mutex readyMutex_;
    std::deque<Work> ready_;
};

} // namespace brimlow::platform::sim
