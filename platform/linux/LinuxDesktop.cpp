#include "DisplayServer.h"
#include "SessionInput.h"
#include "base/AutostartLoginItems.h"
#include "base/CommandLine.h"
#include "base/HelperHttpClient.h"
#include "base/LinuxHostIdentity.h"
#include "base/PlistBundleInfo.h"
#include "base/ProcWorkspace.h"
#include "base/SessionBusNotifications.h"
#include "base/StdoutConsole.h"
#include "platform/OpenDesktop.h"
#include "qt/DBusSessionLock.h"
#include "qt/QtApplication.h"
#include "qt/QtMainLoop.h"
#include "qt/QtUrlOpener.h"
#include "qt/SettingsPreferenceStore.h"
#include "qt/TrayStatusBar.h"
#include "wayland/WaylandActivation.h"
#include "x11/X11Session.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace brimlow::platform {
namespace {

using namespace linuxdesktop;

// Qt registers the program with the desktop portal's host registry when it starts, and again
// each time the portal's name appears on the bus. A start that brings the portal up (its first
// caller activates it) therefore registers twice, and the portal refuses the second with a
// warning on every such start. Qt is asked not to register at all, as QT_NO_XDG_DESKTOP_PORTAL
// does: the program's portal calls go over a connection of their own, which registers itself.
// Qt reads the variable while its application is made; it is not passed on to the programs that
// Brimlow starts, and a value the user set is left alone.
class ToolkitPortalRegistrationDeclined {
public:
    ToolkitPortalRegistrationDeclined() : set_(std::getenv(variable) == nullptr) {
        if (set_) {
            setenv(variable, "1", 1);
        }
    }
    void end() {
        if (set_) {
            unsetenv(variable);
            set_ = false;
        }
    }

private:
    static constexpr const char* variable = "QT_NO_XDG_DESKTOP_PORTAL";
    bool set_;
};

// Every service of the real desktop, in the order they depend on each other.
class LinuxDesktop {
public:
    LinuxDesktop(int& argc, char** argv)
        : qtApplication_(argc, argv), bundle_(bundlePath_),
          preferences_(preferencesFilePath(), console_, systemPreferencesFilePaths()),
          loginItems_(bundlePath_, autostartDirectory(), bundleName(), bundle_.identifier(),
                      systemAutostartDirectories()),
          images_(bundlePath_ + "/Contents/Resources/icons"), alerts_(loop_, bundleName()),
          application_(loop_, skipTaskbar(), activateWithToken(), console_, bundle_.identifier()),
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
                   .idleClock = input_.idleClock(),
                   .alerts = alerts_,
                   .pointer = input_.pointer(),
                   .postEventAccess = input_.access(),
                   .sessionLock = sessionLock_,
                   .notifications = notifications_,
                   .http = http_,
                   .host = host_,
                   .urls = urls_} {
        portalRegistrationDeclined_.end();
        // The program lives in the tray: closing its window must not end it.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setApplicationName(QString::fromStdString(bundleName()));
        QGuiApplication::setDesktopFileName(QString::fromStdString(bundle_.identifier()));
        images_.useAsWindowIcon(bundle_.identifier());
        console_.printLine(input_.description() + "; " + sessionLock_.description());
    }

    Desktop& desktop() { return desktop_; }

private:
    std::string bundleName() {
        std::string name = bundle_.name();
        return name.empty() ? "Brimlow" : name;
    }

    QtApplication::SkipTaskbar skipTaskbar() {
        X11Session* x11 = input_.x11();
        if (x11 == nullptr || !x11->connected()) {
            return {};
        }
        return [x11](unsigned long window, bool mapped, bool skip) {
            x11->setSkipTaskbar(window, mapped, skip);
        };
    }

    // Only for windows Qt put on Wayland: X11 window managers take Qt's own request.
    static QtApplication::ActivateWithToken activateWithToken() {
        if (QGuiApplication::platformName() != u"wayland") {
            return {};
        }
        return linuxdesktop::activateWithToken;
    }

    ToolkitPortalRegistrationDeclined portalRegistrationDeclined_;
    QApplication qtApplication_;
    const std::string bundlePath_ = runningBundlePath();
    StdoutConsole console_;
    PlistBundleInfo bundle_;
    QtMainLoop loop_;
    SettingsPreferenceStore preferences_;
    SessionBusNotifications notifications_{loop_, console_};
    DBusSessionLock sessionLock_;
    SessionInput input_{console_, notifications_, bundle_.identifier(), sessionLock_};
    ProcWorkspace workspace_{console_, &input_.windows()};
    AutostartLoginItems loginItems_;
    TrayStatusBar statusBar_{console_};
    BundleImageLibrary images_;
    QtAlerts alerts_;
    HelperHttpClient http_{bundlePath_ + "/Contents/Helpers/brimlow-request"};
    LinuxHostIdentity host_;
    QtUrlOpener urls_;
    QtApplication application_;
    Desktop desktop_;
};

// Before anything is opened: a question on the command line is answered, and a session the
// window cannot reach is named, rather than Qt aborting with its plugin's complaint.
void exitUnlessTheProgramCanRun(int argc, char** argv) {
    if (argc > 1) {
        PlistBundleInfo bundle(runningBundlePath());
        const std::string name = bundle.name().empty() ? "Brimlow" : bundle.name();
        if (std::optional<int> status =
                answerCommandLine(argc, argv, name, bundle.shortVersion())) {
            std::exit(*status);
        }
    }
    if (const std::string missing = missingDisplayServer(); !missing.empty()) {
        std::fprintf(stderr,
                     "brimlow: no display to open its window on (%s): start Brimlow inside a "
                     "desktop session, from its menu or a terminal there\n",
                     missing.c_str());
        std::exit(1);
    }
}

} // namespace

// Created once and never destroyed: Qt must not be torn down by static destructors after
// main() returns, and the program's objects (the tray icon among them) still use the desktop
// while main() unwinds. Every write has reached the disk by then; the system reclaims the rest.
Desktop& openDesktop(int& argc, char** argv) {
    exitUnlessTheProgramCanRun(argc, argv);
    static LinuxDesktop* desktop = new LinuxDesktop(argc, argv);
    return desktop->desktop();
}

} // namespace brimlow::platform
