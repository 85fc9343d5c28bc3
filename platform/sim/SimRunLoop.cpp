#include "SimRunLoop.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brimlow::platform::sim {

class SimRunLoop::Handle final : public RepeatingTimer {
public:
    Handle(SimRunLoop& loop, std::uint64_t id) : loop_(loop), id_(id) {}
    ~Handle() override { loop_.timers_.erase(id_); }

private:
    SimRunLoop& loop_;
    std::uint64_t id_;
};

void SimRunLoop::advance(double seconds) {
    double target = now_ + seconds;
    do {
        runReadyItems();
        // A modal alert inside an item may have carried the clock past the target.
        target = std::max(target, now_);
    } while (runNextDueWithin(target));
    now_ = target;
}

void SimRunLoop::passModalTime(double seconds) {
    ++modalDepth_;
    now_ += seconds;
    --modalDepth_;
}

void SimRunLoop::runReadyItems() {
    for (;;) {
        Work work;
        {
            std::lock_guard lock(readyMutex_);
            if (ready_.empty()) {
                return;
            }
            work = std::move(ready_.front());
            ready_.pop_front();
        }
        work();
    }
}

// Fires the earliest timer or releases the earliest deferred item due by `until`. Ties go to
// whichever was scheduled first.
bool SimRunLoop::runNextDueWithin(double until) {
    auto earliest = [](auto& entries) {
        return std::min_element(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.second.due < b.second.due ||
                   (a.second.due == b.second.due && a.first < b.first);
        });
    };
    constexpr double never = std::numeric_limits<double>::infinity();
    auto timer = earliest(timers_);
    double timerDue = timer == timers_.end() ? never : timer->second.due;
    std::uint64_t timerId = timer == timers_.end() ? 0 : timer->first;
    {
        std::unique_lock lock(readyMutex_);
        auto item = earliest(deferred_);
        double itemDue = item == deferred_.end() ? never : item->second.due;
        if (std::min(timerDue, itemDue) > until) {
            return false;
        }
        if (itemDue < timerDue || (itemDue == timerDue && item->first < timerId)) {
            now_ = std::max(now_, itemDue);
            ready_.push_back(std::move(item->second.work));
            deferred_.erase(item);
            return true;
        }
    }
    now_ = std::max(now_, timerDue);
    Tick tick = timer->second.tick;
    if (timer->second.repeating) {
        // Ticks missed while the loop was held are dropped, not replayed.
        while (timer->second.due <= now_) {
            timer->second.due += timer->second.interval;
        }
    } else {
        timers_.erase(timer);
    }
    tick();
    return true;
}

void SimRunLoop::async(Work work) {
    std::lock_guard lock(readyMutex_);
    ready_.push_back(std::move(work));
}

void SimRunLoop::asyncAfter(double seconds, Work work) {
    std::lock_guard lock(readyMutex_);
    deferred_.emplace(nextId_++, Deferred{now_ + seconds, std::move(work)});
}

std::uint64_t SimRunLoop::addTimer(double seconds, bool repeating, Tick tick) {
    std::uint64_t id = nextId_++;
    timers_.emplace(id, Timer{now_ + seconds, seconds, repeating, std::move(tick)});
    return id;
}

std::unique_ptr<RepeatingTimer> SimRunLoop::scheduleRepeating(double seconds, Tick tick) {
    return std::make_unique<Handle>(*this, addTimer(seconds, true, std::move(tick)));
}

void SimRunLoop::scheduleOnce(double seconds, Tick tick) {
    addTimer(seconds, false, std::move(tick));
}

} // namespace brimlow::platform::sim
