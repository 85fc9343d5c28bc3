#pragma once

#include "platform/Alerts.h"
#include "platform/MainQueue.h"
#include "platform/RunLoopTimers.h"
#include "platform/linux/base/MainLoopEvents.h"

#include <memory>
#include <string>

namespace brimlow::platform::linuxdesktop {

// The main queue and the run-loop timers on the Qt event loop of the main thread. Our own work
// (queue items and timer ticks) never starts while other work of ours is on the stack: a modal
// alert's nested event loop delivers Qt's events, but items and ticks that fall due meanwhile
// wait until the work that opened it has returned. A timer that fell due once or more while
// held fires once; the queue then runs its items in order. Nothing polls: the loop sleeps until
// a timer is due or work is queued. A readable descriptor's watch runs as a queue item too.
// Construct and destroy on the main thread, after the QApplication exists.
class QtMainLoop final : public MainQueue, public RunLoopTimers, public MainLoopEvents {
public:
    using Work = MainQueue::Work;

    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    void async(Work work) override;
    void asyncAfter(double seconds, Work work) override;
    std::unique_ptr<RepeatingTimer> scheduleRepeating(double seconds, Tick tick) override;
    void scheduleOnce(double seconds, Tick tick) override;

    // Queues `work` ahead of every item already waiting. Main thread only.
    void asyncFirst(Work work);

    void watchReadable(int fd, Work ready) override;
    void unwatchReadable(int fd) override;
    void post(Work work) override { async(std::move(work)); }

    // While one exists, a modal alert runs: nothing of ours starts.
    class Modal {
    public:
        explicit Modal(QtMainLoop& loop);
        ~Modal();
        Modal(const Modal&) = delete;
        Modal& operator=(const Modal&) = delete;

    private:
        QtMainLoop& loop_;
    };

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// QMessageBox alerts, run modally. The first button is the default one (Return); Escape and
// closing the alert's window answer with the last button, which for a single button is that
// button: an alert that is dismissed takes its least committal answer.
class QtAlerts final : public Alerts {
public:
    // `title` names the program in the alert's title bar.
    QtAlerts(QtMainLoop& loop, std::string title) : loop_(loop), title_(std::move(title)) {}

    int runModal(const Alert& alert) override;

private:
    QtMainLoop& loop_;
    std::string title_;
};

} // namespace brimlow::platform::linuxdesktop
