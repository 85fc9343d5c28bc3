#include "SessionBusNotifications.h"

#include <algorithm>
#include <cstdlib>
#include <dbus/dbus.h>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace brimlow::platform::linuxdesktop {
namespace {

class BusToken final : public DistributedNotifications::Token {};

struct Observed {
    std::weak_ptr<DistributedNotifications::Token> token;
    std::string name;
    std::optional<std::string> object;
    std::string matchRule;
    DistributedNotifications::Observer observer;
    bool removed = false;
};

// A value in a match rule: quoted, with each apostrophe spelled as a closed quote, an escaped
// apostrophe and a reopened quote.
std::string matchValue(const std::string& value) {
    std::string quoted = "'";
    for (char c : value) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string matchRule(const std::string& name, const std::optional<std::string>& object) {
    std::string rule = std::string("type='signal',path='") + notificationPath + "',interface='" +
                       notificationInterface + "',member='" + notificationSignal +
                       "',arg0=" + matchValue(name);
    if (object) {
        rule += ",arg1=" + matchValue(*object);
    }
    return rule;
}

// The session bus as the desktop announces it. libdbus on its own would fall back to starting
// a bus through X11 autolaunch, which would outlive us and nobody else would find.
std::optional<std::string> sessionBusAddress() {
    const char* announced = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (announced != nullptr && *announced != '\0') {
        return announced;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        return std::nullopt;
    }
    std::string socket = std::string(runtime) + "/bus";
    struct stat status {};
    if (stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return std::nullopt;
    }
    return "unix:path=" + socket;
}

bool sameToken(const std::weak_ptr<DistributedNotifications::Token>& a,
               const std::shared_ptr<DistributedNotifications::Token>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

class SessionBusNotifications::Impl {
public:
    Impl(MainLoopEvents& mainLoop, Console& output) : loop(mainLoop), console(output) {}
    ~Impl() { disconnect(); }

    // The connection, made on first use; nothing without a bus, and one line says so.
    DBusConnection* bus();
    // Makes the connection once; why it failed, in a few words, or empty.
    std::string connect();
    void disconnect();
    void readable();
    void dispatchAll();
    void deliver(DBusMessage* message);

    MainLoopEvents& loop;
    Console& console;
    DBusConnection* connection = nullptr;
    int fd = -1;
    bool triedToConnect = false;
    std::string failure;
    bool dispatchQueued = false;
    std::vector<std::shared_ptr<Observed>> observers;
    // Guards the work this object posted to the loop once it is gone.
    std::shared_ptr<Impl*> self = std::make_shared<Impl*>(this);
};

namespace {

DBusHandlerResult filterPostings(DBusConnection*, DBusMessage* message, void* impl) {
    if (dbus_message_is_signal(message, notificationInterface, notificationSignal) &&
        dbus_message_has_path(message, notificationPath)) {
        static_cast<SessionBusNotifications::Impl*>(impl)->deliver(message);
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

// libdbus calls this from inside its own calls, where dispatching again is not allowed: the
// dispatch is posted to the loop instead.
void dispatchStatusChanged(DBusConnection*, DBusDispatchStatus status, void* impl) {
    auto* notifications = static_cast<SessionBusNotifications::Impl*>(impl);
    if (status != DBUS_DISPATCH_DATA_REMAINS || notifications->dispatchQueued) {
        return;
    }
    notifications->dispatchQueued = true;
    std::weak_ptr<SessionBusNotifications::Impl*> alive = notifications->self;
    notifications->loop.post([alive] {
        if (auto live = alive.lock()) {
            (*live)->dispatchQueued = false;
            (*live)->dispatchAll();
        }
    });
}

} // namespace

DBusConnection* SessionBusNotifications::Impl::bus() {
    if (!triedToConnect && !connect().empty()) {
        console.printLine(failure + ": notifications between programs are off");
    }
    return connection;
}

std::string SessionBusNotifications::Impl::connect() {
    if (triedToConnect) {
        return failure;
    }
    triedToConnect = true;
    std::optional<std::string> address = sessionBusAddress();
    if (!address) {
        failure = "No D-Bus session bus";
        return failure;
    }
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* opened = dbus_connection_open_private(address->c_str(), &error);
    if (opened != nullptr && !dbus_bus_register(opened, &error)) {
        dbus_connection_close(opened);
        dbus_connection_unref(opened);
        opened = nullptr;
    }
    if (opened == nullptr) {
        failure = std::string("Cannot reach the D-Bus session bus (") + error.message + ")";
        dbus_error_free(&error);
        return failure;
    }
    dbus_connection_set_exit_on_disconnect(opened, false);
    dbus_connection_add_filter(opened, filterPostings, this, nullptr);
    dbus_connection_set_dispatch_status_function(opened, dispatchStatusChanged, this, nullptr);
    connection = opened;
    dbus_connection_get_unix_fd(connection, &fd);
    loop.watchReadable(fd, [this] { readable(); });
    // Registering may already have read messages that no readable socket will announce.
    dispatchStatusChanged(connection, dbus_connection_get_dispatch_status(connection), this);
    return {};
}

void SessionBusNotifications::Impl::disconnect() {
    if (connection == nullptr) {
        return;
    }
    loop.unwatchReadable(fd);
    dbus_connection_set_dispatch_status_function(connection, nullptr, nullptr, nullptr);
    dbus_connection_remove_filter(connection, filterPostings, this);
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    connection = nullptr;
}

void SessionBusNotifications::Impl::readable() {
    if (!dbus_connection_read_write(connection, 0)) {
        console.printLine("Lost the D-Bus session bus: notifications between programs are off");
        disconnect();
        return;
    }
    dispatchAll();
}

void SessionBusNotifications::Impl::dispatchAll() {
    while (connection != nullptr &&
           dbus_connection_dispatch(connection) == DBUS_DISPATCH_DATA_REMAINS) {
    }
}

void SessionBusNotifications::Impl::deliver(DBusMessage* message) {
    const char* name = nullptr;
    const char* object = nullptr;
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &object,
                               DBUS_TYPE_INVALID)) {
        return;
    }
    // A copy: an observer may add or remove observers while it runs.
    auto current = observers;
    for (const auto& observed : current) {
        if (!observed->removed && observed->name == name &&
            (!observed->object || *observed->object == object)) {
            auto observer = observed->observer;
            observer();
        }
    }
}

SessionBusNotifications::SessionBusNotifications(MainLoopEvents& loop, Console& console)
    : impl_(std::make_unique<Impl>(loop, console)) {}

SessionBusNotifications::~SessionBusNotifications() = default;

std::string SessionBusNotifications::connect() {
    return impl_->connect();
}

std::shared_ptr<DistributedNotifications::Token>
SessionBusNotifications::addObserver(const std::string& name,
                                     const std::optional<std::string>& object, Observer observer) {
    auto token = std::make_shared<BusToken>();
    auto observed = std::make_shared<Observed>(
        Observed{token, name, object, matchRule(name, object), std::move(observer)});
    // Waited for: a posting made once this returns, by any program, must reach the observer.
    if (DBusConnection* bus = impl_->bus()) {
        DBusError error;
        dbus_error_init(&error);
        dbus_bus_add_match(bus, observed->matchRule.c_str(), &error);
        if (dbus_error_is_set(&error)) {
            impl_->console.printLine("The session bus refused to pass on " + name + " (" +
                                     error.message + ")");
            dbus_error_free(&error);
        }
    }
    impl_->observers.push_back(std::move(observed));
    return token;
}

void SessionBusNotifications::removeObserver(const std::shared_ptr<Token>& token,
                                             const std::string& name) {
    auto& observers = impl_->observers;
    auto found = std::find_if(observers.begin(), observers.end(), [&](const auto& observed) {
        return sameToken(observed->token, token) && observed->name == name;
    });
    if (found == observers.end()) {
        return;
    }
    (*found)->removed = true;
    if (impl_->connection != nullptr) {
        // Not waited for: nothing depends on when the bus stops sending.
        dbus_bus_remove_match(impl_->connection, (*found)->matchRule.c_str(), nullptr);
        dbus_connection_flush(impl_->connection);
    }
    observers.erase(found);
}

void SessionBusNotifications::post(const std::string& name, const std::string& object) {
    DBusConnection* bus = impl_->bus();
    if (bus == nullptr) {
        return;
    }
    if (!dbus_validate_utf8(name.c_str(), nullptr) ||
        !dbus_validate_utf8(object.c_str(), nullptr)) {
        impl_->console.printLine("Cannot post " + name + ": not UTF-8 text");
        return;
    }
    DBusMessage* signal =
        dbus_message_new_signal(notificationPath, notificationInterface, notificationSignal);
    const char* nameText = name.c_str();
    const char* objectText = object.c_str();
    if (signal == nullptr ||
        !dbus_message_append_args(signal, DBUS_TYPE_STRING, &nameText, DBUS_TYPE_STRING,
                                  &objectText, DBUS_TYPE_INVALID) ||
        !dbus_connection_send(bus, signal, nullptr)) {
        impl_->console.printLine("Cannot post " + name + ": out of memory");
    }
    if (signal != nullptr) {
        dbus_message_unref(signal);
    }
    dbus_connection_flush(bus);
}

} // namespace brimlow::platform::linuxdesktop
