// The test's hand on the mouse: puts the pointer of a wlroots compositor (sway) or of KWin at a
// position on the screen, so that this is the user's last input before the program under test
// starts.
//
//   pointer-placer X Y WIDTH HEIGHT
//
// WIDTH and HEIGHT are the screen's size, which wlroots' absolute motion is scaled by. Prints
// "placed" once the compositor has handled the move, then holds its pointer device until it is
// ended (SIGTERM): the pointer exists only while some device does, and a client that asks for
// it in answer to the device's arrival gets its enter event only if the device is still there.
// Exits with 2 when the compositor offers neither zwlr_virtual_pointer_manager_v1 nor (to this
// executable: KWin asks its installed desktop entry) org_kde_kwin_fake_input; 1 on any other
// failure.
#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <wayland-client.h>

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* virtualPointers = nullptr;
    org_kde_kwin_fake_input* fakeInput = nullptr;
    std::uint32_t fakeInputVersion = 0;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto& globals = *static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals.seat == nullptr) {
        globals.seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals.virtualPointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        // Absolute motion came with version 4.
        globals.fakeInputVersion = std::min(version, 4u);
        globals.fakeInput = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
            registry, name, &org_kde_kwin_fake_input_interface, globals.fakeInputVersion));
    }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

bool readCoordinate(const char* text, std::uint32_t& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || parsed > 65535) {
        return false;
    }
    value = std::uint32_t(parsed);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (argc != 5 || !readCoordinate(argv[1], x) || !readCoordinate(argv[2], y) ||
        !readCoordinate(argv[3], width) || !readCoordinate(argv[4], height) || x >= width ||
        y >= height) {
        std::fprintf(stderr, "usage: pointer-placer X Y WIDTH HEIGHT (X < WIDTH, Y < HEIGHT)\n");
        return 1;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::perror("pointer-placer: cannot connect to the Wayland display");
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "pointer-placer: the compositor went away\n");
        return 1;
    }

    int status = 0;
    if (globals.virtualPointers != nullptr) {
        zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
            globals.virtualPointers, globals.seat);
        zwlr_virtual_pointer_v1_motion_absolute(pointer, 0, x, y, width, height);
        zwlr_virtual_pointer_v1_frame(pointer);
    } else if (globals.fakeInput != nullptr && globals.fakeInputVersion >= 4) {
        org_kde_kwin_fake_input_authenticate(globals.fakeInput, "Brimlow tests",
                                             "to act as the user");
        org_kde_kwin_fake_input_pointer_motion_absolute(
            globals.fakeInput, wl_fixed_from_int(int(x)), wl_fixed_from_int(int(y)));
    } else {
        std::fprintf(stderr, "pointer-placer: the compositor offers no virtual pointer, nor fake "
                             "input of version 4 to this program\n");
        status = 2;
    }
    // A request the compositor refused shows as a protocol error here, not at the request.
    if (status == 0 && wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "pointer-placer: the compositor refused the move\n");
        status = 1;
    }
    if (status == 0) {
        std::printf("placed\n");
        std::fflush(stdout);
        while (wl_display_dispatch(display) >= 0) {
        }
        std::fprintf(stderr, "pointer-placer: the compositor went away\n");
        status = 1;
    }
    wl_display_disconnect(display);
    return status;
}
