#pragma once

#include <functional>
#include <string>

#include "platform/Desktop.h"

namespace brimlow {

// Talking to the user and to the server.
class SCL {
public:
    SCL() = delete;

    // Shows an informational alert with one button once the work queued before it has run,
    // then runs `completion`. Returns at once.
    static void showAlert(const platform::Desktop& desktop, const std::string& informativeText,
                          const std::string& messageText, std::function<void()> completion);
};

} // namespace brimlow
