#include "WaylandConnection.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <wayland-client.h>

namespace brimlow::platform::linuxdesktop {

std::unique_ptr<WaylandConnection> WaylandConnection::open(Console& console) {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        console.printLine(std::string("No Wayland compositor answers at WAYLAND_DISPLAY (") +
                          std::strerror(errno) + ")");
        return nullptr;
    }
    return std::unique_ptr<WaylandConnection>(new WaylandConnection(display, console));
}

WaylandConnection::WaylandConnection(wl_display* display, Console& console)
    : display_(display), console_(console) {
    static const wl_registry_listener listener{&WaylandConnection::onGlobal,
                                               &WaylandConnection::onGlobalRemoved};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    wl_display_roundtrip(display_);
    if (offers(wl_seat_interface.name)) {
        seat_ = static_cast<wl_seat*>(bind(wl_seat_interface, 1));
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { dispatchArrived(); });
}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(void* self, wl_registry*, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
    static_cast<WaylandConnection*>(self)->globals_.push_back({name, interface, version});
}

bool WaylandConnection::offers(const std::string& interfaceName) const {
    return std::any_of(globals_.begin(), globals_.end(),
                       [&](const Global& global) { return global.interface == interfaceName; });
}

bool WaylandConnection::offersAnyStartingWith(const std::string& prefix) const {
    return std::any_of(globals_.begin(), globals_.end(),
                       [&](const Global& global) { return global.interface.starts_with(prefix); });
}

void* WaylandConnection::bind(const wl_interface& interface, std::uint32_t maxVersion) {
    for (const Global& global : globals_) {
        if (global.interface == interface.name) {
            return wl_registry_bind(registry_, global.name, &interface,
                                    std::min(global.version, maxVersion));
        }
    }
    return nullptr;
}

void WaylandConnection::dispatchArrived() {
    if (failed_) {
        return;
    }
    while (wl_display_prepare_read(display_) != 0) {
        wl_display_dispatch_pending(display_);
    }
    // A full buffer (EAGAIN) is sent later; any other failure is the connection's end.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        reportFailure();
        return;
    }
    pollfd readable{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&readable, 1, 0) == 1) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        reportFailure();
    }
}

void WaylandConnection::roundtrip() {
    if (!failed_ && wl_display_roundtrip(display_) < 0) {
        reportFailure();
    }
}

// The compositor ended the connection (it quit, or took a request for a protocol error): the
// session's input is gone for this run.
void WaylandConnection::reportFailure() {
    failed_ = true;
    notifier_->setEnabled(false);
    console_.printLine(std::string("The Wayland connection failed (") +
                       std::strerror(wl_display_get_error(display_)) +
                       "); no more idle time or pointer moves from the compositor");
}

} // namespace brimlow::platform::linuxdesktop
