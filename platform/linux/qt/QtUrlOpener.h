#pragma once

#include "platform/UrlOpener.h"

namespace brimlow::platform::linuxdesktop {

// The desktop's default browser, through xdg-open.
class QtUrlOpener final : public UrlOpener {
public:
    bool openURL(const std::string& url) override;
};

} // namespace brimlow::platform::linuxdesktop
