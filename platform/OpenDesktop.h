#pragma once

#include "Desktop.h"

namespace brimlow::platform {

// The desktop the program runs on, opened once for the life of the process.
Desktop& openDesktop(int& argc, char** argv);
// The same for a helper program with no window.
HelperDesktop& openHelperDesktop(int& argc, char** argv);

} // namespace brimlow::platform
