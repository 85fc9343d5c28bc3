#include "PollApplication.h"

#include <poll.h>
#include <vector>

namespace brimlow::platform::linuxdesktop {

int PollApplication::main(LaunchDelegate& delegate) {
    delegate.applicationDidFinishLaunching();
    while (!terminated_) {
        runPosted();
        if (!terminated_ && posted_.empty()) {
            waitAndDispatch();
        }
    }
    return 0;
}

void PollApplication::watchReadable(int fd, Work ready) {
    watches_[fd] = std::move(ready);
}

// Only the items that were waiting when it began: an item that posts another gives the
// descriptors their turn first.
void PollApplication::runPosted() {
    for (std::size_t waiting = posted_.size(); waiting > 0 && !terminated_; --waiting) {
        Work work = std::move(posted_.front());
        posted_.pop_front();
        work();
    }
}

void PollApplication::waitAndDispatch() {
    std::vector<pollfd> fds;
    for (const auto& [fd, ready] : watches_) {
        fds.push_back({fd, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0) {
        // A signal that did not end the process: nothing to dispatch.
        return;
    }
    for (const pollfd& polled : fds) {
        if (terminated_) {
            return;
        }
        auto watch = watches_.find(polled.fd);
        // An earlier watch of this round may have removed this one.
        if (polled.revents != 0 && watch != watches_.end()) {
            Work ready = watch->second;
            ready();
        }
    }
}

} // namespace brimlow::platform::linuxdesktop
