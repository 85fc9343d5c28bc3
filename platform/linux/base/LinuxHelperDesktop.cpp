#include "PlistBundleInfo.h"
#include "PollApplication.h"
#include "ProcWorkspace.h"
#include "SessionBusNotifications.h"
#include "StdoutConsole.h"
#include "platform/OpenDesktop.h"

#include <cstdio>
#include <cstdlib>

namespace brimlow::platform {
namespace {

using namespace linuxdesktop;

class LinuxHelperDesktop {
public:
    // Without the bus Brimlow could never tell the launcher to quit, and it would wait for ever:
    // it only belongs in a desktop session.
    LinuxHelperDesktop() {
        if (const std::string failure = notifications_.connect(); !failure.empty()) {
            std::fprintf(stderr,
                         "BrimlowLauncher: %s: it starts Brimlow at login inside a desktop "
                         "session; start Brimlow from the desktop's menu or with brimlow there\n",
                         failure.c_str());
            std::exit(1);
        }
    }

    HelperDesktop& desktop() { return desktop_; }

private:
    StdoutConsole console_;
    PollApplication application_;
    PlistBundleInfo bundle_{runningBundlePath()};
    ProcWorkspace workspace_{console_};
    SessionBusNotifications notifications_{application_, console_};
    HelperDesktop desktop_{application_, workspace_, notifications_, bundle_};
};

} // namespace

// Never destroyed, like the program's desktop: nothing of it must end before main() has.
HelperDesktop& openHelperDesktop(int&, char**) {
    static LinuxHelperDesktop* desktop = new LinuxHelperDesktop;
    return desktop->desktop();
}

} // namespace brimlow::platform
