#include "CurlHttpClient.h"
#include "LinuxHostIdentity.h"
#include "QtApplication.h"
#include "QtMainLoop.h"
#include "QtUrlOpener.h"
#include "SettingsPreferenceStore.h"
#include "TrayStatusBar.h"
#include "X11Session.h"
#include "base/AutostartLoginItems.h"
#include "base/PlistBundleInfo.h"
#include "base/ProcWorkspace.h"
#include "base/SessionBusNotifications.h"
#include "base/StdoutConsole.h"
#include "platform/OpenDesktop.h"

#include <QApplication>

namespace brimlow::platform {
namespace {

using namespace linuxdesktop;

// Every service of the real desktop, in the order they depend on each other.
class LinuxDesktop {
public:
    LinuxDesktop(int& argc, char** argv)
        : qtApplication_(argc, argv), bundle_(bundlePath_),
          preferences_(preferencesFilePath(), console_),
          loginItems_(bundlePath_, autostartDirectory(), bundleName(), bundle_.identifier()),
          images_(bundlePath_ + "/Contents/Resources/icons"), alerts_(loop_, bundleName()),
          application_(loop_, x11_, console_, bundle_.identifier()),
          desktop_{.application = application_,
                   .mainQueue = loop_,
                   .timers = loop_,
                   .preferences = preferences_,
                   .workspace = workspace_,
                   .loginItems = loginItems_,
                   .statusBar = statusBar_,
                   .images = images_,
                   .bundle = bundle_,
                   .console = console_,
                   .idleClock = idleClock_,
                   .alerts = alerts_,
                   .pointer = pointer_,
                   .postEventAccess = access_,
                   .notifications = notifications_,
                   .http = http_,
                   .host = host_,
                   .urls = urls_} {
        // The program lives in the tray: closing its window must not end it.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setApplicationName(QString::fromStdString(bundleName()));
        QGuiApplication::setDesktopFileName(QString::fromStdString(bundle_.identifier()));
        images_.useAsWindowIcon(bundle_.identifier());
    }

    Desktop& desktop() { return desktop_; }

private:
    std::string bundleName() {
        std::string name = bundle_.name();
        return name.empty() ? "Brimlow" : name;
    }

    QApplication qtApplication_;
    const std::string bundlePath_ = runningBundlePath();
    StdoutConsole console_;
    PlistBundleInfo bundle_;
    QtMainLoop loop_;
    SettingsPreferenceStore preferences_;
    X11Session x11_{console_};
    ProcWorkspace workspace_{console_, [this] { return x11_.pidsWithNormalWindows(); }};
    AutostartLoginItems loginItems_;
    TrayStatusBar statusBar_;
    BundleImageLibrary images_;
    XIdleClock idleClock_{x11_, console_};
    QtAlerts alerts_;
    XPointerEvents pointer_{x11_};
    XPostEventAccess access_{x11_};
    SessionBusNotifications notifications_{loop_, console_};
    CurlHttpClient http_;
    LinuxHostIdentity host_;
    QtUrlOpener urls_;
    QtApplication application_;
    Desktop desktop_;
};

} // namespace

// Created once and never destroyed: Qt must not be torn down by static destructors after
// main() returns, and the program's objects (the tray icon among them) still use the desktop
// while main() unwinds. Every write has reached the disk by then; the system reclaims the rest.
Desktop& openDesktop(int& argc, char** argv) {
    static LinuxDesktop* desktop = new LinuxDesktop(argc, argv);
    return desktop->desktop();
}

} // namespace brimlow::platform
