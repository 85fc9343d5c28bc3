#pragma once

#include <string>

namespace brimlow::platform {

// Diagnostic lines on standard output: no prefix, no level, each line out at once.
class Console {
public:
    virtual ~Console() = default;
    // Safe from any thread; lines never interleave.
    virtual void printLine(const std::string& line) = 0;
    // A line written again and again all day (one every idle tick). Where every line is kept for
    // good (the system journal) it is left out; everywhere else it is written like any other.
    virtual void printTickLine(const std::string& line) = 0;
};

} // namespace brimlow::platform
