#pragma once

#include <ostream>
#include <string>

// Screen geometry, free of any X header so code that also includes Qt can use it.
namespace brimlow::e2e {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct PointerPosition {
    int x = 0;
    int y = 0;
    bool operator==(const PointerPosition&) const = default;
};

std::string describe(const Rect& rect);
std::string describe(const PointerPosition& at);

// For GoogleTest's failure messages.
std::ostream& operator<<(std::ostream& out, const Rect& rect);
std::ostream& operator<<(std::ostream& out, const PointerPosition& at);

} // namespace brimlow::e2e
