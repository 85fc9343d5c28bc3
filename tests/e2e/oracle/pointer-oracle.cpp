// One fullscreen Wayland surface that prints where the pointer enters it and moves on it, one
// line per event, so a test can see what a user's applications see:
//
//   mapped 1280 800      the surface is on screen as fullscreen, at that size
//   enter 640.00 400.00  the pointer came onto it, at that surface-local position
//   motion 638.00 402.00
//   leave
//   idle                 the compositor counts the session idle (no input for a second)
//   resumed              and active again, at the user's next input
//
// The last two come from the compositor's idle notifications (ext_idle_notifier_v1, else KDE's
// org_kde_kwin_idle, which sway 1.7 has alone); a compositor with neither (mutter) sends none.
// With --focus it also follows the keyboard focus, as a launcher that starts programs does:
//
//   focused              the surface has the keyboard focus
//   token ABC            the activation token (xdg_activation_v1) the compositor gave it for
//                        the first focus, which lets another client take the focus
//   unfocused            another surface has it now
//
// Ends with status 0 on SIGTERM or SIGINT, 1 when the compositor goes away or refuses it.
#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

// Short, so that a test sees the session go idle between the user's input and the program's.
constexpr std::uint32_t idleTimeoutMs = 1000;

// Used when the compositor leaves the size to us, which it should not for a fullscreen window.
constexpr int fallbackWidth = 640;
constexpr int fallbackHeight = 480;

void report(const char* format, double x, double y) {
    std::printf(format, x, y);
    std::fflush(stdout);
}

void reportLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

struct Oracle {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_pointer* pointer = nullptr;
    wl_buffer* buffer = nullptr;
    wl_callback* fullscreenFrame = nullptr;
    ext_idle_notifier_v1* idleNotifier = nullptr;
    ext_idle_notification_v1* idleNotification = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    org_kde_kwin_idle_timeout* kdeIdleTimeout = nullptr;
    // Only with --focus.
    bool followFocus = false;
    wl_keyboard* keyboard = nullptr;
    xdg_activation_v1* activation = nullptr;
    xdg_activation_token_v1* token = nullptr;
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool pendingFullscreen = false;
    bool mapped = false;
    int bufferWidth = 0;
    int bufferHeight = 0;
    bool failed = false;
};

void fail(Oracle& oracle, const char* what) {
    std::fprintf(stderr, "pointer-oracle: %s\n", what);
    oracle.failed = true;
}

// A plain grey buffer: the compositor shows (and so gives input to) only a surface with
// content.
wl_buffer* makeBuffer(Oracle& oracle, int width, int height) {
    const int stride = width * 4;
    const auto size = std::size_t(stride) * std::size_t(height);
    int fd = memfd_create("pointer-oracle", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    std::fill_n(static_cast<std::uint32_t*>(pixels), size / 4, 0xff404040u);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(oracle.shm, fd, int(size));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

void onFullscreenFrame(void* data, wl_callback* callback, std::uint32_t) {
    auto& oracle = *static_cast<Oracle*>(data);
    wl_callback_destroy(callback);
    oracle.fullscreenFrame = nullptr;
    oracle.mapped = true;
    std::printf("mapped %d %d\n", oracle.bufferWidth, oracle.bufferHeight);
    std::fflush(stdout);
}

const wl_callback_listener fullscreenFrameListener = {onFullscreenFrame};

void onXdgSurfaceConfigure(void* data, xdg_surface* xdgSurface, std::uint32_t serial) {
    auto& oracle = *static_cast<Oracle*>(data);
    xdg_surface_ack_configure(xdgSurface, serial);
    const int width = oracle.pendingWidth > 0 ? oracle.pendingWidth : fallbackWidth;
    const int height = oracle.pendingHeight > 0 ? oracle.pendingHeight : fallbackHeight;
    if (oracle.buffer == nullptr || width != oracle.bufferWidth || height != oracle.bufferHeight) {
        wl_buffer* buffer = makeBuffer(oracle, width, height);
        if (buffer == nullptr) {
            fail(oracle, "cannot make a shared-memory buffer");
            return;
        }
        if (oracle.buffer != nullptr) {
            wl_buffer_destroy(oracle.buffer);
        }
        oracle.buffer = buffer;
        oracle.bufferWidth = width;
        oracle.bufferHeight = height;
        wl_surface_attach(oracle.surface, buffer, 0, 0);
        wl_surface_damage_buffer(oracle.surface, 0, 0, width, height);
    }
    // Some compositors (sway) show a window as it asked only after its first content, so the
    // first frame may still be an ordinary window's; the first done after content of the
    // fullscreen size means the whole screen is ours.
    if (oracle.pendingFullscreen && !oracle.mapped && oracle.fullscreenFrame == nullptr) {
        oracle.fullscreenFrame = wl_surface_frame(oracle.surface);
        wl_callback_add_listener(oracle.fullscreenFrame, &fullscreenFrameListener, &oracle);
    }
    wl_surface_commit(oracle.surface);
}

const xdg_surface_listener xdgSurfaceListener = {onXdgSurfaceConfigure};

void onToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                         wl_array* states) {
    auto& oracle = *static_cast<Oracle*>(data);
    oracle.pendingWidth = width;
    oracle.pendingHeight = height;
    const auto* first = static_cast<const std::uint32_t*>(states->data);
    const auto* last = first + states->size / sizeof(std::uint32_t);
    oracle.pendingFullscreen = std::find(first, last, XDG_TOPLEVEL_STATE_FULLSCREEN) != last;
}

void onToplevelClose(void*, xdg_toplevel*) {}

void onToplevelConfigureBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}

void onToplevelWmCapabilities(void*, xdg_toplevel*, wl_array*) {}

const xdg_toplevel_listener toplevelListener = {
    onToplevelConfigure, onToplevelClose, onToplevelConfigureBounds, onToplevelWmCapabilities};

void onPing(void*, xdg_wm_base* wmBase, std::uint32_t serial) {
    xdg_wm_base_pong(wmBase, serial);
}

const xdg_wm_base_listener wmBaseListener = {onPing};

void onPointerEnter(void*, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
    report("enter %.2f %.2f\n", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

void onPointerLeave(void*, wl_pointer*, std::uint32_t, wl_surface*) {
    reportLine("leave");
}

void onPointerMotion(void*, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    report("motion %.2f %.2f\n", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

void onPointerButton(void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t,
                     std::uint32_t) {}
void onPointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
void onPointerFrame(void*, wl_pointer*) {}
void onPointerAxisSource(void*, wl_pointer*, std::uint32_t) {}
void onPointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void onPointerAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}

// The seat is bound at version 5 (onGlobal), so the events later versions added never come:
// their members, which each libwayland release adds to the end, stay empty.
wl_pointer_listener version5PointerListener() {
    wl_pointer_listener listener{};
    listener.enter = onPointerEnter;
    listener.leave = onPointerLeave;
    listener.motion = onPointerMotion;
    listener.button = onPointerButton;
    listener.axis = onPointerAxis;
    listener.frame = onPointerFrame;
    listener.axis_source = onPointerAxisSource;
    listener.axis_stop = onPointerAxisStop;
    listener.axis_discrete = onPointerAxisDiscrete;
    return listener;
}

const wl_pointer_listener pointerListener = version5PointerListener();

void onActivationToken(void*, xdg_activation_token_v1*, const char* token) {
    std::printf("token %s\n", token);
    std::fflush(stdout);
}

const xdg_activation_token_v1_listener activationTokenListener = {onActivationToken};

void onKeymap(void*, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) {
    close(fd);
}

// A token stands for the input that gave the focus: the serial of the first enter.
void onKeyboardEnter(void* data, wl_keyboard*, std::uint32_t serial, wl_surface* surface,
                     wl_array*) {
    auto& oracle = *static_cast<Oracle*>(data);
    reportLine("focused");
    if (oracle.activation != nullptr && oracle.token == nullptr) {
        oracle.token = xdg_activation_v1_get_activation_token(oracle.activation);
        xdg_activation_token_v1_add_listener(oracle.token, &activationTokenListener, &oracle);
        xdg_activation_token_v1_set_serial(oracle.token, serial, oracle.seat);
        xdg_activation_token_v1_set_surface(oracle.token, surface);
        xdg_activation_token_v1_commit(oracle.token);
    }
}

void onKeyboardLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {
    reportLine("unfocused");
}

void onKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {}
void onRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

// As the pointer's: the members of events after version 5 stay empty.
wl_keyboard_listener version5KeyboardListener() {
    wl_keyboard_listener listener{};
    listener.keymap = onKeymap;
    listener.enter = onKeyboardEnter;
    listener.leave = onKeyboardLeave;
    listener.key = onKey;
    listener.modifiers = onModifiers;
    listener.repeat_info = onRepeatInfo;
    return listener;
}

const wl_keyboard_listener keyboardListener = version5KeyboardListener();

// A headless compositor has no pointer until a virtual one is made (a remote-desktop session
// starts), and loses it again when that ends: follow the seat.
void onSeatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    auto& oracle = *static_cast<Oracle*>(data);
    const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (hasPointer && oracle.pointer == nullptr) {
        oracle.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(oracle.pointer, &pointerListener, &oracle);
    } else if (!hasPointer && oracle.pointer != nullptr) {
        wl_pointer_release(oracle.pointer);
        oracle.pointer = nullptr;
    }
    const bool hasKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (oracle.followFocus && hasKeyboard && oracle.keyboard == nullptr) {
        oracle.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(oracle.keyboard, &keyboardListener, &oracle);
    } else if (!hasKeyboard && oracle.keyboard != nullptr) {
        wl_keyboard_release(oracle.keyboard);
        oracle.keyboard = nullptr;
    }
}

void onSeatName(void*, wl_seat*, const char*) {}

const wl_seat_listener seatListener = {onSeatCapabilities, onSeatName};

void onIdled(void*, ext_idle_notification_v1*) {
    reportLine("idle");
}

void onResumed(void*, ext_idle_notification_v1*) {
    reportLine("resumed");
}

const ext_idle_notification_v1_listener idleNotificationListener = {onIdled, onResumed};

void onKdeIdle(void*, org_kde_kwin_idle_timeout*) {
    reportLine("idle");
}

void onKdeResumed(void*, org_kde_kwin_idle_timeout*) {
    reportLine("resumed");
}

const org_kde_kwin_idle_timeout_listener kdeIdleTimeoutListener = {onKdeIdle, onKdeResumed};

// The timer starts now; with both protocols on offer the standard one is enough.
void watchIdleness(Oracle& oracle) {
    if (oracle.seat == nullptr) {
        return;
    }
    if (oracle.idleNotifier != nullptr) {
        oracle.idleNotification = ext_idle_notifier_v1_get_idle_notification(
            oracle.idleNotifier, idleTimeoutMs, oracle.seat);
        ext_idle_notification_v1_add_listener(oracle.idleNotification, &idleNotificationListener,
                                              &oracle);
    } else if (oracle.kdeIdle != nullptr) {
        oracle.kdeIdleTimeout =
            org_kde_kwin_idle_get_idle_timeout(oracle.kdeIdle, oracle.seat, idleTimeoutMs);
        org_kde_kwin_idle_timeout_add_listener(oracle.kdeIdleTimeout, &kdeIdleTimeoutListener,
                                               &oracle);
    }
}

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto& oracle = *static_cast<Oracle*>(data);
    const auto bind = [&](const wl_interface* type, std::uint32_t wanted) {
        return wl_registry_bind(registry, name, type, std::min(version, wanted));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        oracle.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        oracle.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        oracle.wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(oracle.wmBase, &wmBaseListener, &oracle);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && oracle.seat == nullptr) {
        // Version 5 for wl_pointer.release.
        oracle.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(oracle.seat, &seatListener, &oracle);
    } else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        oracle.idleNotifier =
            static_cast<ext_idle_notifier_v1*>(bind(&ext_idle_notifier_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
        oracle.kdeIdle = static_cast<org_kde_kwin_idle*>(bind(&org_kde_kwin_idle_interface, 1));
    } else if (oracle.followFocus &&
               std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        oracle.activation = static_cast<xdg_activation_v1*>(bind(&xdg_activation_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

// Handles Wayland events until a signal arrives on `signals`; false if the connection broke.
bool run(Oracle& oracle, int signals) {
    const int fd = wl_display_get_fd(oracle.display);
    for (;;) {
        while (wl_display_prepare_read(oracle.display) != 0) {
            if (wl_display_dispatch_pending(oracle.display) < 0) {
                return false;
            }
        }
        if (oracle.failed) {
            wl_display_cancel_read(oracle.display);
            return false;
        }
        // A full socket is no reason to stop: the rest goes out on the next round.
        if (wl_display_flush(oracle.display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(oracle.display);
            return false;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {signals, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(oracle.display);
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (wl_display_read_events(oracle.display) < 0) {
                return false;
            }
        } else {
            wl_display_cancel_read(oracle.display);
        }
        if ((fds[0].revents & (POLLERR | POLLHUP)) != 0 && (fds[0].revents & POLLIN) == 0) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return true;
        }
        if (wl_display_dispatch_pending(oracle.display) < 0) {
            return false;
        }
    }
}

void destroy(Oracle& oracle) {
    if (oracle.fullscreenFrame != nullptr) {
        wl_callback_destroy(oracle.fullscreenFrame);
    }
    if (oracle.pointer != nullptr) {
        wl_pointer_release(oracle.pointer);
    }
    if (oracle.keyboard != nullptr) {
        wl_keyboard_release(oracle.keyboard);
    }
    if (oracle.token != nullptr) {
        xdg_activation_token_v1_destroy(oracle.token);
    }
    if (oracle.activation != nullptr) {
        xdg_activation_v1_destroy(oracle.activation);
    }
    if (oracle.idleNotification != nullptr) {
        ext_idle_notification_v1_destroy(oracle.idleNotification);
    }
    if (oracle.idleNotifier != nullptr) {
        ext_idle_notifier_v1_destroy(oracle.idleNotifier);
    }
    if (oracle.kdeIdleTimeout != nullptr) {
        org_kde_kwin_idle_timeout_release(oracle.kdeIdleTimeout);
    }
    if (oracle.kdeIdle != nullptr) {
        org_kde_kwin_idle_destroy(oracle.kdeIdle);
    }
    if (oracle.toplevel != nullptr) {
        xdg_toplevel_destroy(oracle.toplevel);
    }
    if (oracle.xdgSurface != nullptr) {
        xdg_surface_destroy(oracle.xdgSurface);
    }
    if (oracle.surface != nullptr) {
        wl_surface_destroy(oracle.surface);
    }
    if (oracle.buffer != nullptr) {
        wl_buffer_destroy(oracle.buffer);
    }
    if (oracle.seat != nullptr) {
        wl_seat_release(oracle.seat);
    }
    if (oracle.wmBase != nullptr) {
        xdg_wm_base_destroy(oracle.wmBase);
    }
    if (oracle.shm != nullptr) {
        wl_shm_destroy(oracle.shm);
    }
    if (oracle.compositor != nullptr) {
        wl_compositor_destroy(oracle.compositor);
    }
    if (oracle.registry != nullptr) {
        wl_registry_destroy(oracle.registry);
    }
    wl_display_flush(oracle.display);
    wl_display_disconnect(oracle.display);
}

} // namespace

int main(int argc, char** argv) {
    // Signals arrive as readable data, between two batches of Wayland events, never inside one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("pointer-oracle: sigprocmask");
        return 1;
    }
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("pointer-oracle: signalfd");
        return 1;
    }

    Oracle oracle;
    oracle.followFocus = argc == 2 && std::strcmp(argv[1], "--focus") == 0;
    oracle.display = wl_display_connect(nullptr);
    if (oracle.display == nullptr) {
        std::perror("pointer-oracle: cannot connect to the Wayland display");
        return 1;
    }
    oracle.registry = wl_display_get_registry(oracle.display);
    wl_registry_add_listener(oracle.registry, &registryListener, &oracle);
    if (wl_display_roundtrip(oracle.display) < 0) {
        fail(oracle, "the compositor went away");
    } else if (oracle.compositor == nullptr || oracle.shm == nullptr || oracle.wmBase == nullptr) {
        fail(oracle, "the compositor lacks wl_compositor, wl_shm or xdg_wm_base");
    } else {
        watchIdleness(oracle);
        oracle.surface = wl_compositor_create_surface(oracle.compositor);
        oracle.xdgSurface = xdg_wm_base_get_xdg_surface(oracle.wmBase, oracle.surface);
        xdg_surface_add_listener(oracle.xdgSurface, &xdgSurfaceListener, &oracle);
        oracle.toplevel = xdg_surface_get_toplevel(oracle.xdgSurface);
        xdg_toplevel_add_listener(oracle.toplevel, &toplevelListener, &oracle);
        xdg_toplevel_set_title(oracle.toplevel, "pointer oracle");
        xdg_toplevel_set_app_id(oracle.toplevel, "com.pellvane.PointerOracle");
        // Fullscreen on the only monitor, so surface-local positions are screen positions.
        xdg_toplevel_set_fullscreen(oracle.toplevel, nullptr);
        wl_surface_commit(oracle.surface);
    }
    const bool stopped = !oracle.failed && run(oracle, signals);
    if (!stopped && !oracle.failed) {
        fail(oracle, "lost the connection to the compositor");
    }
    destroy(oracle);
    close(signals);
    return stopped ? 0 : 1;
}
