#include "QtMainLoop.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <mutex>

namespace brimlow::platform::linuxdesktop {
namespace {

using Clock = std::chrono::steady_clock;

// QTimer counts in int milliseconds; longer delays are cut to the longest it can wait
// (24.8 days), and negative or NaN delays mean now.
std::chrono::milliseconds timerInterval(Clock::duration delay) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    constexpr std::chrono::milliseconds longest{std::numeric_limits<int>::max()};
    return std::clamp(ms, std::chrono::milliseconds{0}, longest);
}

Clock::duration fromSeconds(double seconds) {
    constexpr double longest = 3.0e7; // well past what a QTimer can wait, well inside Clock's range
    if (!(seconds > 0)) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, longest)));
}

} // namespace

class RepeatingHandle;

class QtMainLoop::Impl {
public:
    // A tick that fell due while our work was on the stack: a repeating timer's (by its
    // handle, so destroying the handle withdraws it) or a one-shot's.
    struct Held {
        RepeatingHandle* repeating;
        Tick once;
    };

    void post(Work work, bool first);
    void fire(RepeatingHandle* repeating, Tick once);
    void forget(RepeatingHandle* repeating);
    void startDelay(Clock::time_point due, Work work);
    void enter() { ++busy_; }
    void leave();

    QObject context; // on the main thread: queued wake-ups and timers are delivered through it
    // Main thread only.
    std::map<int, std::unique_ptr<QSocketNotifier>> watches;

private:
    void run(const std::function<void()>& work);
    void runHeld(Held held);
    void pump();
    void wakeLocked();

    std::mutex mutex_;
    std::deque<Work> ready_;  // guarded by mutex_
    bool wakePosted_ = false; // guarded by mutex_
    // Main thread only.
    int busy_ = 0;
    std::deque<Held> held_;
};

class RepeatingHandle final : public RepeatingTimer {
public:
    RepeatingHandle(QtMainLoop::Impl& loop, std::chrono::milliseconds interval,
                    RunLoopTimers::Tick tick)
        : loop_(loop), tick_(std::move(tick)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, &loop_.context,
                         [this] { loop_.fire(this, nullptr); });
        timer_.start();
    }
    ~RepeatingHandle() override { loop_.forget(this); }

    // A copy: the tick may destroy this handle while it runs.
    RunLoopTimers::Tick tick() const { return tick_; }

private:
    QtMainLoop::Impl& loop_;
    const RunLoopTimers::Tick tick_;
    QTimer timer_;
};

void QtMainLoop::Impl::post(Work work, bool first) {
    std::lock_guard lock(mutex_);
    if (first) {
        ready_.push_front(std::move(work));
    } else {
        ready_.push_back(std::move(work));
    }
    wakeLocked();
}

// One wake-up at a time is enough: the pump that it runs takes every item queued until then.
void QtMainLoop::Impl::wakeLocked() {
    if (wakePosted_) {
        return;
    }
    wakePosted_ = true;
    QMetaObject::invokeMethod(
        &context, [this] { pump(); }, Qt::QueuedConnection);
}

void QtMainLoop::Impl::fire(RepeatingHandle* repeating, Tick once) {
    // Ticks already held go first, so timers keep the order in which they fell due.
    if (busy_ > 0 || !held_.empty()) {
        bool alreadyHeld =
            repeating != nullptr && std::any_of(held_.begin(), held_.end(), [&](const Held& held) {
                return held.repeating == repeating;
            });
        if (!alreadyHeld) {
            held_.push_back({repeating, std::move(once)});
        }
        if (busy_ == 0) {
            std::lock_guard lock(mutex_);
            wakeLocked();
        }
        return;
    }
    runHeld({repeating, std::move(once)});
}

void QtMainLoop::Impl::forget(RepeatingHandle* repeating) {
    std::erase_if(held_, [&](const Held& held) { return held.repeating == repeating; });
}

void QtMainLoop::Impl::runHeld(Held held) {
    run(held.repeating != nullptr ? held.repeating->tick() : std::move(held.once));
}

void QtMainLoop::Impl::run(const std::function<void()>& work) {
    struct Busy {
        Impl& loop;
        explicit Busy(Impl& impl) : loop(impl) { loop.enter(); }
        ~Busy() { loop.leave(); }
    } busy(*this);
    work();
}

// The end of the outermost work of ours releases whatever waited for it.
void QtMainLoop::Impl::leave() {
    if (--busy_ > 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (!ready_.empty() || !held_.empty()) {
        wakeLocked();
    }
}

// Runs the items queued so far, then at most one held tick, then yields to the event loop if
// more is waiting: items that queue items cannot starve Qt's own events. Ready items go before
// a held tick, so work a tick queued runs before the next tick, as it would have on time.
void QtMainLoop::Impl::pump() {
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        wakePosted_ = false;
        count = ready_.size();
    }
    // Inside a modal alert's loop: the work that opened it wakes us again when it returns.
    if (busy_ > 0) {
        return;
    }
    for (; count > 0; --count) {
        Work work;
        {
            std::lock_guard lock(mutex_);
            work = std::move(ready_.front());
            ready_.pop_front();
        }
        run(work);
    }
    if (!held_.empty()) {
        Held held = std::move(held_.front());
        held_.pop_front();
        runHeld(std::move(held));
    }
    std::lock_guard lock(mutex_);
    if (!ready_.empty() || !held_.empty()) {
        wakeLocked();
    }
}

void QtMainLoop::Impl::startDelay(Clock::time_point due, Work work) {
    QTimer::singleShot(timerInterval(due - Clock::now()), Qt::PreciseTimer, &context,
                       [this, work = std::move(work)]() mutable { post(std::move(work), false); });
}

QtMainLoop::QtMainLoop() : impl_(std::make_unique<Impl>()) {}

QtMainLoop::~QtMainLoop() = default;

void QtMainLoop::async(Work work) {
    impl_->post(std::move(work), false);
}

void QtMainLoop::asyncFirst(Work work) {
    impl_->post(std::move(work), true);
}

// The delay counts from the call, also when the main thread takes a while to pick it up.
void QtMainLoop::asyncAfter(double seconds, Work work) {
    Clock::time_point due = Clock::now() + fromSeconds(seconds);
    if (QThread::currentThread() == impl_->context.thread()) {
        impl_->startDelay(due, std::move(work));
        return;
    }
    Impl* impl = impl_.get();
    QMetaObject::invokeMethod(
        &impl_->context,
        [impl, due, work = std::move(work)]() mutable { impl->startDelay(due, std::move(work)); },
        Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtMainLoop::scheduleRepeating(double seconds, Tick tick) {
    return std::make_unique<RepeatingHandle>(*impl_, timerInterval(fromSeconds(seconds)),
                                             std::move(tick));
}

void QtMainLoop::scheduleOnce(double seconds, Tick tick) {
    Impl* impl = impl_.get();
    QTimer::singleShot(
        timerInterval(fromSeconds(seconds)), Qt::PreciseTimer, &impl_->context,
        [impl, tick = std::move(tick)]() mutable { impl->fire(nullptr, std::move(tick)); });
}

// The notifier rests while its watch waits in the queue: it would otherwise fire again and
// again during an alert, whose loop holds the queue.
void QtMainLoop::watchReadable(int fd, Work ready) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QSocketNotifier* raw = notifier.get();
    QObject::connect(raw, &QSocketNotifier::activated, &impl_->context, [this, fd, raw, ready] {
        raw->setEnabled(false);
        async([this, fd, raw, ready] {
            auto watch = impl_->watches.find(fd);
            if (watch == impl_->watches.end() || watch->second.get() != raw) {
                return;
            }
            ready();
            // The watch may have been removed, or replaced, while it ran.
            watch = impl_->watches.find(fd);
            if (watch != impl_->watches.end() && watch->second.get() == raw) {
                raw->setEnabled(true);
            }
        });
    });
    impl_->watches[fd] = std::move(notifier);
}

void QtMainLoop::unwatchReadable(int fd) {
    impl_->watches.erase(fd);
}

QtMainLoop::Modal::Modal(QtMainLoop& loop) : loop_(loop) {
    loop_.impl_->enter();
}

QtMainLoop::Modal::~Modal() {
    loop_.impl_->leave();
}

int QtAlerts::runModal(const Alert& alert) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QString::fromStdString(title_));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(alert.messageText));
    box.setInformativeText(QString::fromStdString(alert.informativeText));

    const std::vector<std::string> labels =
        alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    std::vector<QAbstractButton*> buttons;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        // Roles place the buttons as the desktop's style orders an affirmative, further and
        // dismissive choice; the answer is by position in the list either way.
        QMessageBox::ButtonRole role = i == 0                   ? QMessageBox::AcceptRole
                                       : i + 1 == labels.size() ? QMessageBox::RejectRole
                                                                : QMessageBox::ActionRole;
        buttons.push_back(box.addButton(QString::fromStdString(labels[i]), role));
    }
    box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    box.setEscapeButton(buttons.back());

    {
        QtMainLoop::Modal modal(loop_);
        box.exec();
    }
    // No button was clicked when the application quit while the alert was open.
    auto clicked = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    std::size_t index = clicked == buttons.end() ? buttons.size() - 1 : clicked - buttons.begin();
    return alertFirstButtonReturn + int(index);
}

} // namespace brimlow::platform::linuxdesktop
