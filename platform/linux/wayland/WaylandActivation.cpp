#include "WaylandActivation.h"

#include "xdg-activation-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstdint>
#include <cstring>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace brimlow::platform::linuxdesktop {
namespace {

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
    auto*& activation = *static_cast<xdg_activation_v1**>(data);
    if (activation == nullptr && std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        activation = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

} // namespace

bool activateWithToken(QWindow& window, const std::string& token) {
    // The surface lives on Qt's own connection, so the request has to go there too. Qt reads
    // that connection on a thread of its own: what is asked here waits on a queue of its own.
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr) {
        return false;
    }
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
    if (display == nullptr || surface == nullptr) {
        return false;
    }
    wl_event_queue* queue = wl_display_create_queue(display);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    xdg_activation_v1* activation = nullptr;
    wl_registry_add_listener(registry, &registryListener, &activation);
    const bool asked = wl_display_roundtrip_queue(display, queue) >= 0 && activation != nullptr;
    if (asked) {
        xdg_activation_v1_activate(activation, token.c_str(), surface);
    }
    if (activation != nullptr) {
        xdg_activation_v1_destroy(activation);
    }
    wl_registry_destroy(registry);
    wl_display_flush(display);
    wl_event_queue_destroy(queue);
    return asked;
}

} // namespace brimlow::platform::linuxdesktop
