#pragma once

#include <string>

namespace brimlow::platform {

// Opens web pages in the user's browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when no browser could be asked.
    virtual bool openURL(const std::string& url) = 0;
};

} // namespace brimlow::platform
