#pragma once

#include "platform/Console.h"

#include <mutex>

namespace brimlow::platform::linuxdesktop {

class StdoutConsole final : public Console {
public:
    void printLine(const std::string& line) override;

private:
    std::mutex mutex_;
};

} // namespace brimlow::platform::linuxdesktop
