#include "Geometry.h"

namespace brimlow::e2e {

std::string describe(const Rect& rect) {
    return std::to_string(rect.width) + "x" + std::to_string(rect.height) + "+" +
           std::to_string(rect.x) + "+" + std::to_string(rect.y);
}

std::string describe(const PointerPosition& at) {
    return "(" + std::to_string(at.x) + "," + std::to_string(at.y) + ")";
}

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
    return out << describe(rect);
}

std::ostream& operator<<(std::ostream& out, const PointerPosition& at) {
    return out << describe(at);
}

} // namespace brimlow::e2e
