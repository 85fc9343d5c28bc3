#include "X11Session.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/extensions/sync.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace brimlow::platform::linuxdesktop {
namespace {

// Xlib's default handler ends the process on any protocol error. Ours asks about windows of
// other programs, which may be destroyed at any moment; such an error only means "gone".
int ignoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}

enum AtomIndex {
    netClientList,
    netWmPid,
    netWmWindowType,
    netWmWindowTypeNormal,
    netWmState,
    netWmStateSkipTaskbar,
    atomCount
};

const char* atomNames[atomCount] = {
    "_NET_CLIENT_LIST",           "_NET_WM_PID",   "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR",
};

struct ReplyDeleter {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, ReplyDeleter>;

Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t* c,
                                              xcb_get_property_cookie_t cookie) {
    return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(c, cookie, nullptr));
}

template <typename T>
std::vector<T> values32(const xcb_get_property_reply_t* reply, xcb_atom_t type) {
    if (reply == nullptr || reply->format != 32 || reply->type != type) {
        return {};
    }
    auto* data = static_cast<const T*>(xcb_get_property_value(reply));
    return std::vector<T>(data, data + xcb_get_property_value_length(reply) / 4);
}

// From this much idle time on, the server is not asked again until input comes.
constexpr unsigned long idleSpellMs = 1000;

XSyncCounter idleTimeCounter(Display* display) {
    int count = 0;
    XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count);
    XSyncCounter found = None;
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(counters[i].name, "IDLETIME") == 0) {
            found = counters[i].counter;
        }
    }
    if (counters != nullptr) {
        XSyncFreeSystemCounterList(counters);
    }
    return found;
}

XSyncValue syncValue(unsigned long value) {
    XSyncValue result;
    XSyncIntsToValue(&result, static_cast<unsigned>(value & 0xffffffffUL),
                     static_cast<int>(static_cast<std::uint64_t>(value) >> 32));
    return result;
}

// An alarm on the server's IDLETIME counter that sends an event once the idle time drops below
// the value it is armed with, that is, at the first input after that; None without SYNC or the
// counter. Created disarmed (below 0).
XSyncAlarm createInputAlarm(Display* display, int& eventBase) {
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (XSyncQueryExtension(display, &eventBase, &errorBase) != True ||
        XSyncInitialize(display, &major, &minor) != True) {
        return None;
    }
    const XSyncCounter counter = idleTimeCounter(display);
    if (counter == None) {
        return None;
    }
    XSyncAlarmAttributes attributes{};
    attributes.trigger.counter = counter;
    attributes.trigger.value_type = XSyncAbsolute;
    attributes.trigger.wait_value = syncValue(0);
    attributes.trigger.test_type = XSyncNegativeComparison;
    attributes.delta = syncValue(0);
    attributes.events = True;
    return XSyncCreateAlarm(display,
                            XSyncCACounter | XSyncCAValueType | XSyncCAValue | XSyncCATestType |
                                XSyncCADelta | XSyncCAEvents,
                            &attributes);
}

} // namespace

class X11Session::Impl {
public:
    Display* display = nullptr;
    Atom atoms[atomCount] = {};
    bool xtest = false;
    bool screenSaver = false;
    XScreenSaverInfo* screenSaverInfo = nullptr;
    // While the session stays idle the idle time is the server's last answer plus the time
    // since, and the server is asked again only once the input alarm says input came: an idle
    // session costs no round trip to the server per check.
    struct IdleAnswer {
        unsigned long idleMs = 0;
        std::chrono::steady_clock::time_point at;
    };
    XSyncAlarm inputAlarm = None;
    int syncEventBase = 0;
    std::optional<IdleAnswer> idleSpell;

    // Takes what the server sent, and ends the idle spell if the input alarm went off. The
    // socket is read only when poll(2) says the server sent something: an idle check then costs
    // one system call, and none of Xlib's.
    void takeEvents() {
        xcb_connection_t* c = XGetXCBConnection(display);
        // Events that came in with the replies of earlier requests.
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) {
            take(event);
        }
        pollfd socket{ConnectionNumber(display), POLLIN, 0};
        if (poll(&socket, 1, 0) > 0) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                take(event);
            }
        }
    }

    void take(xcb_generic_event_t* event) {
        // The high bit only says the event was sent by a client.
        if ((event->response_type & 0x7f) == syncEventBase + XSyncAlarmNotify) {
            idleSpell.reset();
        }
        std::free(event);
    }

    // The alarm goes off once the idle time is below `idleMs`: it only grows until input comes.
    // Armed after the server's answer, it goes off at once if input came in between. The test is
    // "at most", so it is armed a millisecond below the answer: at the answer itself the counter,
    // still reading the answer, would set it off at once and every check would ask again.
    void beginIdleSpell(unsigned long idleMs) {
        XSyncAlarmAttributes attributes{};
        attributes.trigger.wait_value = syncValue(idleMs - 1);
        XSyncChangeAlarm(display, inputAlarm, XSyncCAValue, &attributes);
        XFlush(display);
        idleSpell = IdleAnswer{idleMs, std::chrono::steady_clock::now()};
    }

    ~Impl() {
        if (screenSaverInfo != nullptr) {
            XFree(screenSaverInfo);
        }
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
};

X11Session::X11Session(Console& console, const std::string& displayName)
    : impl_(std::make_unique<Impl>()) {
    impl_->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (impl_->display == nullptr) {
        const char* name = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
        console.printLine(std::string("No X display (") +
                          (name != nullptr ? name : "DISPLAY unset") +
                          "): idle time reads 0 and the pointer cannot be moved");
        return;
    }
    XSetErrorHandler(ignoreProtocolError);
    // The program reads no Xlib events, only the alarm's, straight from xcb's queue; an error
    // for a request without a reply arrives there too, and is passed over like the others.
    XSetEventQueueOwner(impl_->display, XCBOwnsEventQueue);
    XInternAtoms(impl_->display, const_cast<char**>(atomNames), atomCount, False, impl_->atoms);
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    impl_->xtest = XTestQueryExtension(impl_->display, &event, &error, &major, &minor) == True;
    impl_->screenSaver = XScreenSaverQueryExtension(impl_->display, &event, &error) == True;
    if (impl_->screenSaver) {
        impl_->screenSaverInfo = XScreenSaverAllocInfo();
        impl_->inputAlarm = createInputAlarm(impl_->display, impl_->syncEventBase);
    }
}

X11Session::~X11Session() = default;

bool X11Session::connected() const {
    return impl_->display != nullptr;
}

bool X11Session::hasXTest() const {
    return impl_->xtest;
}

bool X11Session::hasScreenSaverExtension() const {
    return impl_->screenSaverInfo != nullptr;
}

std::optional<unsigned long> X11Session::idleMilliseconds() {
    if (impl_->display == nullptr) {
        return std::nullopt;
    }
    // Also without the extension: errors of the window queries wait in the queue until taken.
    impl_->takeEvents();
    if (impl_->screenSaverInfo == nullptr) {
        return std::nullopt;
    }
    if (const auto& spell = impl_->idleSpell) {
        const auto since = std::chrono::steady_clock::now() - spell->at;
        return spell->idleMs +
               static_cast<unsigned long>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    if (XScreenSaverQueryInfo(impl_->display, DefaultRootWindow(impl_->display),
                              impl_->screenSaverInfo) == 0) {
        return std::nullopt;
    }
    const unsigned long idle = impl_->screenSaverInfo->idle;
    if (impl_->inputAlarm != None && idle >= idleSpellMs) {
        impl_->beginIdleSpell(idle);
    }
    return idle;
}

std::optional<Point> X11Session::pointer() {
    if (impl_->display == nullptr) {
        return std::nullopt;
    }
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    // False only says the pointer is on another screen of the display; the root coordinates
    // hold either way.
    XQueryPointer(impl_->display, DefaultRootWindow(impl_->display), &root, &child, &rootX, &rootY,
                  &windowX, &windowY, &mask);
    return Point{double(rootX), double(rootY)};
}

bool X11Session::fakeMotion(Point to) {
    if (!impl_->xtest) {
        return false;
    }
    // Screen -1: the screen the pointer is on.
    if (XTestFakeMotionEvent(impl_->display, -1, int(std::lround(to.x)), int(std::lround(to.y)),
                             CurrentTime) == 0) {
        return false;
    }
    XFlush(impl_->display);
    return true;
}

std::vector<int> X11Session::pidsWithNormalWindows() {
    if (impl_->display == nullptr) {
        return {};
    }
    xcb_connection_t* c = XGetXCBConnection(impl_->display);
    const xcb_window_t root = DefaultRootWindow(impl_->display);
    auto atom = [&](AtomIndex index) { return xcb_atom_t(impl_->atoms[index]); };

    // First round trip: the window manager's client list and, in case there is none, the
    // root's children.
    auto listCookie =
        xcb_get_property(c, 0, root, atom(netClientList), XCB_ATOM_WINDOW, 0, 1 << 16);
    auto treeCookie = xcb_query_tree(c, root);
    std::vector<xcb_window_t> windows =
        values32<xcb_window_t>(propertyReply(c, listCookie).get(), XCB_ATOM_WINDOW);
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
    const bool managed = !windows.empty();
    if (!managed && tree != nullptr) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }

    // Second round trip: every window's owner, type and, unmanaged, whether it is mapped.
    struct Cookies {
        xcb_get_property_cookie_t pid;
        xcb_get_property_cookie_t type;
        xcb_get_window_attributes_cookie_t attributes;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t window : windows) {
        Cookies sent{};
        sent.pid = xcb_get_property(c, 0, window, atom(netWmPid), XCB_ATOM_CARDINAL, 0, 1);
        sent.type = xcb_get_property(c, 0, window, atom(netWmWindowType), XCB_ATOM_ATOM, 0, 64);
        if (!managed) {
            sent.attributes = xcb_get_window_attributes(c, window);
        }
        cookies.push_back(sent);
    }
    std::vector<int> pids;
    for (const Cookies& sent : cookies) {
        auto pid = values32<std::uint32_t>(propertyReply(c, sent.pid).get(), XCB_ATOM_CARDINAL);
        auto typeReply = propertyReply(c, sent.type);
        bool mapped = true;
        if (!managed) {
            Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, sent.attributes, nullptr));
            mapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        }
        // Vendor types may come first in the list; a normal window lists the normal type too.
        bool normal = typeReply == nullptr || typeReply->type == XCB_ATOM_NONE;
        if (!normal) {
            auto types = values32<xcb_atom_t>(typeReply.get(), XCB_ATOM_ATOM);
            normal =
                std::find(types.begin(), types.end(), atom(netWmWindowTypeNormal)) != types.end();
        }
        if (mapped && normal && !pid.empty()) {
            pids.push_back(int(pid.front()));
        }
    }
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    return pids;
}

void X11Session::setSkipTaskbar(unsigned long window, bool mapped, bool skip) {
    Display* display = impl_->display;
    if (display == nullptr) {
        return;
    }
    const Atom state = impl_->atoms[netWmState];
    const Atom skipTaskbar = impl_->atoms[netWmStateSkipTaskbar];
    if (mapped) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = state;
        event.xclient.format = 32;
        event.xclient.data.l[0] = skip ? 1 : 0; // _NET_WM_STATE_ADD or _REMOVE
        event.xclient.data.l[1] = long(skipTaskbar);
        event.xclient.data.l[3] = 1; // the request comes from an application
        XSendEvent(display, DefaultRootWindow(display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        std::vector<Atom> states;
        if (XGetWindowProperty(display, window, state, 0, 1024, False, XA_ATOM, &type, &format,
                               &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (type == XA_ATOM && format == 32) {
                auto* atoms = reinterpret_cast<Atom*>(data);
                states.assign(atoms, atoms + count);
            }
            XFree(data);
        }
        std::erase(states, skipTaskbar);
        if (skip) {
            states.push_back(skipTaskbar);
        }
        XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states.data()), int(states.size()));
    }
    // The toolkit maps the window over its own connection: the change must be in first.
    XSync(display, False);
}

double XIdleClock::secondsSinceLastInput() {
    std::optional<unsigned long> idle = session_.idleMilliseconds();
    if (!idle) {
        if (!reported_ && session_.connected()) {
            console_.printLine(
                session_.hasScreenSaverExtension()
                    ? "The X server did not answer the idle time query; idle time reads 0"
                    : "The X server has no MIT-SCREEN-SAVER extension; idle time reads 0");
            reported_ = true;
        }
        return 0;
    }
    return double(*idle) / 1000.0;
}

// The X server tells where the pointer is, so the move goes to an absolute position: exact,
// whatever pointer acceleration the server applies to relative motion.
void XPointerEvents::postMouseMovedBy(Offset by, DeliveryReport report) {
    std::optional<Point> at = session_.pointer();
    if (!at) {
        report(Delivery::failed("The X server did not say where the pointer is"));
    } else if (!session_.fakeMotion({at->x + by.dx, at->y + by.dy})) {
        report(Delivery::failed("The X server took no pointer move (XTEST)"));
    } else {
        report({});
    }
}

Access XPostEventAccess::check() {
    return session_.hasXTest() ? Access::granted : Access::denied;
}

std::string XPostEventAccess::requestOutcome() {
    return "Your X server lets every program post input: nothing more is needed.";
}

std::string XPostEventAccess::grantPlace() {
    return "your X server's configuration (Brimlow needs its XTEST extension)";
}

bool XWindowOwners::isRegular(int pid, const std::optional<std::string>&) {
    return std::binary_search(owners_.begin(), owners_.end(), pid);
}

} // namespace brimlow::platform::linuxdesktop
