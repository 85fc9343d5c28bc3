#pragma once

#include "platform/Console.h"

#include <mutex>

namespace brimlow::platform::linuxdesktop {

// Standard output. When it is the systemd journal (JOURNAL_STREAM names its device and inode,
// as systemd sets it for the programs it starts), tick lines are left out: the journal keeps
// every line, and one every 2 seconds is tens of thousands a day.
class StdoutConsole final : public Console {
public:
    StdoutConsole();

    void printLine(const std::string& line) override;
    void printTickLine(const std::string& line) override;

private:
    const bool toJournal_;
    std::mutex mutex_;
};

} // namespace brimlow::platform::linuxdesktop
