#pragma once

#include "Alerts.h"
#include "Application.h"
#include "BundleInfo.h"
#include "Console.h"
#include "Controls.h"
#include "DistributedNotifications.h"
#include "HostIdentity.h"
#include "HttpClient.h"
#include "IdleClock.h"
#include "LoginItems.h"
#include "MainQueue.h"
#include "PointerEvents.h"
#include "PostEventAccess.h"
#include "PreferenceStore.h"
#include "RunLoopTimers.h"
#include "SessionLock.h"
#include "StatusBar.h"
#include "UrlOpener.h"
#include "Workspace.h"

namespace brimlow::platform {

// Every service the program takes from the desktop it runs on. A backend (the real desktop
// or the simulated one) owns the services and hands them out here.
struct Desktop {
    Application& application;
    MainQueue& mainQueue;
    RunLoopTimers& timers;
    PreferenceStore& preferences;
    Workspace& workspace;
    LoginItems& loginItems;
    StatusBar& statusBar;
    ImageLibrary& images;
    BundleInfo& bundle;
    Console& console;
    IdleClock& idleClock;
    Alerts& alerts;
    PointerEvents& pointer;
    PostEventAccess& postEventAccess;
    SessionLock& sessionLock;
    DistributedNotifications& notifications;
    HttpClient& http;
    HostIdentity& host;
    UrlOpener& urls;
};

// What a helper with no window takes from the desktop.
struct HelperDesktop {
    HelperApplication& application;
    Workspace& workspace;
    DistributedNotifications& notifications;
    BundleInfo& bundle;
};

} // namespace brimlow::platform
