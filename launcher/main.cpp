#include "AppDelegate.h"
#include "platform/OpenDesktop.h"

int main(int argc, char** argv) {
    const brimlow::platform::HelperDesktop& desktop =
        brimlow::platform::openHelperDesktop(argc, argv);
    brimlow::launcher::AppDelegate delegate(desktop);
    return desktop.application.main(delegate);
}
