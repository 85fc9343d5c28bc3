#include "PlistBundleInfo.h"
#include "PollApplication.h"
#include "ProcWorkspace.h"
#include "SessionBusNotifications.h"
#include "StdoutConsole.h"
#include "platform/OpenDesktop.h"

namespace brimlow::platform {
namespace {

using namespace linuxdesktop;

class LinuxHelperDesktop {
public:
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
