#include "XServer.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <xcb/xcb.h>

namespace brimlow::e2e {
namespace {

int recordError(Display*, XErrorEvent*) {
    return 0;
}

// The resource-id mask the server gave this client; every client's ids share the mask and
// differ only above it.
unsigned long resourceIdMaskOf(const std::string& displayName) {
    xcb_connection_t* connection = xcb_connect(displayName.c_str(), nullptr);
    unsigned long mask = 0;
    if (xcb_connection_has_error(connection) == 0) {
        mask = xcb_get_setup(connection)->resource_id_mask;
    }
    xcb_disconnect(connection);
    return mask;
}

// Frees what XGetWindowProperty returns.
struct PropertyData {
    unsigned char* data = nullptr;
    unsigned long count = 0;
    Atom type = None;
    int format = 0;
    ~PropertyData() {
        if (data != nullptr) {
            XFree(data);
        }
    }
};

bool readProperty(Display* display, Window window, Atom property, Atom type, PropertyData& out) {
    unsigned long after = 0;
    int status = XGetWindowProperty(display, window, property, 0, 1024, False, type, &out.type,
                                    &out.format, &out.count, &after, &out.data);
    return status == Success && out.data != nullptr && out.count > 0;
}

} // namespace

XConnection::XConnection(const std::string& displayName, Clock::duration timeout)
    : name_(displayName) {
    XSetErrorHandler(recordError);
    pollUntil(
        Clock::now() + timeout,
        [&] {
            display_ = XOpenDisplay(displayName.c_str());
            return display_ != nullptr;
        },
        50ms);
    if (display_ == nullptr) {
        throw std::runtime_error("cannot connect to X display " + displayName);
    }
    resourceIdMask_ = resourceIdMaskOf(displayName);
}

XConnection::~XConnection() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

Window XConnection::root() const {
    return DefaultRootWindow(display_);
}

Atom XConnection::atom(const char* name) const {
    return XInternAtom(display_, name, False);
}

void XConnection::sync() const {
    XSync(display_, False);
}

bool XConnection::hasExtension(const char* name) const {
    int opcode = 0;
    int event = 0;
    int error = 0;
    return XQueryExtension(display_, name, &opcode, &event, &error) != 0;
}

std::vector<Window> XConnection::children(Window window) const {
    Window rootReturn = 0;
    Window parentReturn = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    std::vector<Window> out;
    if (XQueryTree(display_, window, &rootReturn, &parentReturn, &list, &count) != 0) {
        out.assign(list, list + count);
    }
    if (list != nullptr) {
        XFree(list);
    }
    return out;
}

std::optional<Window> XConnection::parent(Window window) const {
    Window rootReturn = 0;
    Window parentReturn = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display_, window, &rootReturn, &parentReturn, &list, &count) == 0) {
        return std::nullopt;
    }
    if (list != nullptr) {
        XFree(list);
    }
    return parentReturn;
}

std::optional<Window> XConnection::topLevelOf(Window window) const {
    for (Window current = window;;) {
        auto up = parent(current);
        if (!up || *up == None) {
            return std::nullopt;
        }
        if (*up == root()) {
            return current;
        }
        current = *up;
    }
}

std::vector<Window> XConnection::allWindows() const {
    std::vector<Window> out;
    std::function<void(Window)> visit = [&](Window window) {
        for (Window child : children(window)) {
            out.push_back(child);
            visit(child);
        }
    };
    visit(root());
    return out;
}

std::optional<long> XConnection::cardinal(Window window, const char* property) const {
    PropertyData data;
    if (!readProperty(display_, window, atom(property), XA_CARDINAL, data) || data.format != 32) {
        return std::nullopt;
    }
    return reinterpret_cast<long*>(data.data)[0];
}

std::vector<Atom> XConnection::atoms(Window window, const char* property) const {
    PropertyData data;
    if (!readProperty(display_, window, atom(property), XA_ATOM, data) || data.format != 32) {
        return {};
    }
    auto* values = reinterpret_cast<Atom*>(data.data);
    return {values, values + data.count};
}

std::string XConnection::title(Window window) const {
    PropertyData utf8;
    if (readProperty(display_, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), utf8) &&
        utf8.format == 8) {
        return {reinterpret_cast<char*>(utf8.data), utf8.count};
    }
    PropertyData plain;
    if (readProperty(display_, window, XA_WM_NAME, XA_STRING, plain) && plain.format == 8) {
        return {reinterpret_cast<char*>(plain.data), plain.count};
    }
    return {};
}

bool XConnection::isViewable(Window window) const {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

bool XConnection::isOverrideRedirect(Window window) const {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.override_redirect != False;
}

std::optional<Rect> XConnection::rootGeometry(Window window) const {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window, &attributes) == 0) {
        return std::nullopt;
    }
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XTranslateCoordinates(display_, window, root(), 0, 0, &x, &y, &child) == 0) {
        return std::nullopt;
    }
    return Rect{x, y, attributes.width, attributes.height};
}

std::size_t XConnection::distinctPixels(Window window) const {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window, &attributes) == 0 ||
        attributes.map_state != IsViewable) {
        return 0;
    }
    XImage* image = XGetImage(display_, window, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return 0;
    }
    std::set<unsigned long> seen;
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            seen.insert(XGetPixel(image, x, y));
        }
    }
    XDestroyImage(image);
    return seen.size();
}

std::vector<Window> XConnection::windowsOfProcess(pid_t pid) const {
    std::vector<Window> out;
    for (Window window : allWindows()) {
        if (cardinal(window, "_NET_WM_PID") == long(pid)) {
            out.push_back(window);
        }
    }
    return out;
}

std::optional<Window> XConnection::trayManager() const {
    const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display_));
    Window owner = XGetSelectionOwner(display_, atom(selection.c_str()));
    if (owner == None) {
        return std::nullopt;
    }
    return owner;
}

bool XConnection::createdBySameClient(Window a, Window b) const {
    return resourceIdMask_ != 0 && (a & ~resourceIdMask_) == (b & ~resourceIdMask_);
}

std::optional<Window> XConnection::inputFocus() const {
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus(display_, &focus, &revertTo);
    if (focus == None || focus == PointerRoot) {
        return std::nullopt;
    }
    return focus;
}

PointerPosition XConnection::pointer() const {
    Window rootReturn = 0;
    Window childReturn = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    XQueryPointer(display_, root(), &rootReturn, &childReturn, &rootX, &rootY, &winX, &winY, &mask);
    return {rootX, rootY};
}

void XConnection::fakeMotion(int x, int y) const {
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    sync();
}

void XConnection::warpPointer(int x, int y) const {
    XWarpPointer(display_, None, root(), 0, 0, 0, 0, x, y);
    sync();
}

void XConnection::requestClose(Window window) const {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom("WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(atom("WM_DELETE_WINDOW"));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    sync();
}

CoverWindow::CoverWindow(const XConnection& x, const Rect& area) : x_(x) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(x.get(), DefaultScreen(x.get()));
    window_ = XCreateWindow(x.get(), x.root(), area.x, area.y, unsigned(area.width),
                            unsigned(area.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                            CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(x.get(), window_);
    x.sync();
}

CoverWindow::~CoverWindow() {
    XDestroyWindow(x_.get(), window_);
    x_.sync();
}

std::optional<std::size_t> stackingIndex(const XConnection& x, Window window) {
    auto stack = x.children(x.root());
    for (std::size_t i = 0; i < stack.size(); ++i) {
        if (stack[i] == window) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<Window> embeddedIcon(const XConnection& x, pid_t pid) {
    auto tray = x.trayManager();
    if (!tray) {
        return std::nullopt;
    }
    for (Window window : x.windowsOfProcess(pid)) {
        auto parent = x.parent(window);
        if (parent && *parent != x.root() && x.createdBySameClient(*parent, *tray) &&
            x.isViewable(window)) {
            return window;
        }
    }
    return std::nullopt;
}

namespace {

// Starts the X server of `argv`, which is told to write its display number on descriptor 3,
// and returns that display's name.
std::string startXServer(std::vector<std::string> argv, std::unique_ptr<Child>& server) {
    SpawnOptions options;
    options.argv = std::move(argv);
    options.argv.insert(options.argv.begin() + 1, {"-displayfd", "3", "-nolisten", "tcp"});
    options.handshakeFd = 3;
    options.discardStderr = true;
    server = std::make_unique<Child>(options);
    auto number = server->readHandshake(15s);
    if (!number || number->empty()) {
        throw std::runtime_error(options.argv.front() + " did not report a display number");
    }
    return ":" + *number;
}

} // namespace

VirtualServer::VirtualServer(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv{"Xvfb", "-screen", "0", "1280x800x24"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    displayName_ = startXServer(std::move(argv), server_);
}

DummyDriverServer::DummyDriverServer() {
    const auto config = dir_.path() / "xorg.conf";
    std::ofstream(config) << "Section \"Device\"\n  Identifier \"card\"\n  Driver \"dummy\"\n"
                             "  VideoRam 32768\nEndSection\n"
                             "Section \"Monitor\"\n  Identifier \"monitor\"\n"
                             "  HorizSync 5.0 - 1000.0\n  VertRefresh 5.0 - 200.0\nEndSection\n"
                             "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"card\"\n"
                             "  Monitor \"monitor\"\n  DefaultDepth 24\n  SubSection \"Display\"\n"
                             "    Depth 24\n    Modes \"1280x800\"\n  EndSubSection\nEndSection\n";
    // No configuration directory of the machine's (an input driver's snippet) gets in.
    displayName_ = startXServer({"Xorg", "-noreset", "-config", config.string(), "-configdir",
                                 dir_.subdir("xorg.conf.d").string(), "-logfile",
                                 (dir_.path() / "Xorg.log").string()},
                                server_);
}

TrayHost::TrayHost(const std::string& displayName) {
    SpawnOptions options;
    // Debian unstable no longer has trayer.
    if (findProgram("trayer")) {
        options.argv = {"trayer", "--edge",        "top",     "--align",
                        "right",  "--widthtype",   "request", "--height",
                        "24",     "--SetDockType", "true",    "--SetPartialStrut",
                        "false",  "--transparent", "false"};
    } else {
        options.argv = {"stalonetray", "--geometry",    "1x1-0+0", "--icon-size",
                        "24",          "--window-type", "dock"};
    }
    options.env.set("DISPLAY", displayName);
    options.discardStderr = true;
    host_ = std::make_unique<Child>(options);
    XConnection x(displayName);
    if (!pollUntil(
            Clock::now() + 10s, [&] { return x.trayManager().has_value(); }, 20ms)) {
        throw std::runtime_error("the tray host never took the system tray on " + displayName);
    }
}

std::optional<Window> preferencesWindow(const XConnection& x, pid_t pid) {
    for (Window window : x.children(x.root())) {
        // The tray icon is a top-level window of the program too, named after it, until the
        // tray host takes it in; like a tooltip it bypasses the window manager.
        if (x.cardinal(window, "_NET_WM_PID") == long(pid) && x.isViewable(window) &&
            x.title(window).starts_with("Brimlow") && !x.isOverrideRedirect(window)) {
            return window;
        }
    }
    return std::nullopt;
}

} // namespace brimlow::e2e
