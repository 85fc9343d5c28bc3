#include "CompositorPointer.h"

#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <cstdint>
#include <time.h>

namespace brimlow::platform::linuxdesktop {
namespace {

// Input events carry a timestamp in milliseconds from an unspecified base.
std::uint32_t nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

void CompositorPointer::send(const DeliveryReport& report) {
    connection_.dispatchArrived();
    if (connection_.working()) {
        report({});
    } else {
        report(Delivery::failed("The compositor ended Brimlow's Wayland connection"));
    }
}

WlrVirtualPointer::WlrVirtualPointer(WaylandConnection& connection)
    : CompositorPointer(connection) {
    auto* manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        connection.bind(zwlr_virtual_pointer_manager_v1_interface, 1));
    manager_ = manager;
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, connection.seat());
    connection.roundtrip();
}

WlrVirtualPointer::~WlrVirtualPointer() {
    zwlr_virtual_pointer_v1_destroy(static_cast<zwlr_virtual_pointer_v1*>(pointer_));
    zwlr_virtual_pointer_manager_v1_destroy(
        static_cast<zwlr_virtual_pointer_manager_v1*>(manager_));
    connection_.dispatchArrived();
}

void WlrVirtualPointer::postMouseMovedBy(Offset by, DeliveryReport report) {
    auto* pointer = static_cast<zwlr_virtual_pointer_v1*>(pointer_);
    zwlr_virtual_pointer_v1_motion(pointer, nowMs(), wl_fixed_from_double(by.dx),
                                   wl_fixed_from_double(by.dy));
    zwlr_virtual_pointer_v1_frame(pointer);
    send(report);
}

KWinFakeInput::KWinFakeInput(WaylandConnection& connection) : CompositorPointer(connection) {
    auto* fakeInput = static_cast<org_kde_kwin_fake_input*>(
        connection.bind(org_kde_kwin_fake_input_interface, 1));
    fakeInput_ = fakeInput;
    org_kde_kwin_fake_input_authenticate(fakeInput, "Brimlow",
                                         "Keeps your session active by nudging the pointer");
    connection.roundtrip();
}

KWinFakeInput::~KWinFakeInput() {
    org_kde_kwin_fake_input_destroy(static_cast<org_kde_kwin_fake_input*>(fakeInput_));
    connection_.dispatchArrived();
}

void KWinFakeInput::postMouseMovedBy(Offset by, DeliveryReport report) {
    org_kde_kwin_fake_input_pointer_motion(static_cast<org_kde_kwin_fake_input*>(fakeInput_),
                                           wl_fixed_from_double(by.dx),
                                           wl_fixed_from_double(by.dy));
    send(report);
}

bool isKWin(const WaylandConnection& connection) {
    return connection.offersAnyStartingWith("org_kde_plasma_");
}

} // namespace brimlow::platform::linuxdesktop
