#pragma once

#include "MainLoopEvents.h"
#include "platform/Application.h"

#include <deque>
#include <map>

namespace brimlow::platform::linuxdesktop {

// The application object of a helper with no window: a poll(2) loop on the main thread that
// sleeps until a watched descriptor is readable. With nothing to watch it sleeps until the
// process is ended (at logout, by a signal). Main thread only.
class PollApplication final : public HelperApplication, public MainLoopEvents {
public:
    int main(LaunchDelegate& delegate) override;
    void terminate() override { terminated_ = true; }

    void watchReadable(int fd, Work ready) override;
    void unwatchReadable(int fd) override { watches_.erase(fd); }
    void post(Work work) override { posted_.push_back(std::move(work)); }

private:
    void runPosted();
    // Waits for the watched descriptors and runs the watches of the ready ones.
    void waitAndDispatch();

    bool terminated_ = false;
    std::map<int, Work> watches_;
    std::deque<Work> posted_;
};

} // namespace brimlow::platform::linuxdesktop
