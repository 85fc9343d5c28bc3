#include "NotifiedIdleClock.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

#include <cstdint>

namespace brimlow::platform::linuxdesktop {
namespace {

constexpr std::uint32_t noticeAfterMs = 1000;

} // namespace

std::optional<std::string> NotifiedIdleClock::offeredProtocol(const WaylandConnection& connection) {
    for (const wl_interface* interface :
         {&ext_idle_notifier_v1_interface, &org_kde_kwin_idle_interface}) {
        if (connection.offers(interface->name)) {
            return interface->name;
        }
    }
    return std::nullopt;
}

NotifiedIdleClock::NotifiedIdleClock(WaylandConnection& connection) {
    if (connection.offers(ext_idle_notifier_v1_interface.name)) {
        extended_ = true;
        auto* notifier =
            static_cast<ext_idle_notifier_v1*>(connection.bind(ext_idle_notifier_v1_interface, 1));
        auto* notification =
            ext_idle_notifier_v1_get_idle_notification(notifier, noticeAfterMs, connection.seat());
        static const ext_idle_notification_v1_listener listener{
            [](void* self, ext_idle_notification_v1*) { idle(self); },
            [](void* self, ext_idle_notification_v1*) { resumed(self); }};
        ext_idle_notification_v1_add_listener(notification, &listener, this);
        notifier_ = notifier;
        notification_ = notification;
    } else {
        auto* notifier =
            static_cast<org_kde_kwin_idle*>(connection.bind(org_kde_kwin_idle_interface, 1));
        auto* notification =
            org_kde_kwin_idle_get_idle_timeout(notifier, connection.seat(), noticeAfterMs);
        static const org_kde_kwin_idle_timeout_listener listener{
            [](void* self, org_kde_kwin_idle_timeout*) { idle(self); },
            [](void* self, org_kde_kwin_idle_timeout*) { resumed(self); }};
        org_kde_kwin_idle_timeout_add_listener(notification, &listener, this);
        notifier_ = notifier;
        notification_ = notification;
    }
    connection.roundtrip();
}

NotifiedIdleClock::~NotifiedIdleClock() {
    if (extended_) {
        ext_idle_notification_v1_destroy(static_cast<ext_idle_notification_v1*>(notification_));
        ext_idle_notifier_v1_destroy(static_cast<ext_idle_notifier_v1*>(notifier_));
    } else {
        org_kde_kwin_idle_timeout_release(static_cast<org_kde_kwin_idle_timeout*>(notification_));
        org_kde_kwin_idle_destroy(static_cast<org_kde_kwin_idle*>(notifier_));
    }
}

void NotifiedIdleClock::idle(void* self) {
    static_cast<NotifiedIdleClock*>(self)->idleSince_ = std::chrono::steady_clock::now();
}

void NotifiedIdleClock::resumed(void* self) {
    static_cast<NotifiedIdleClock*>(self)->idleSince_.reset();
}

double NotifiedIdleClock::secondsSinceLastInput() {
    if (!idleSince_) {
        return 0;
    }
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - *idleSince_);
    return double(noticeAfterMs + since.count()) / 1000;
}

} // namespace brimlow::platform::linuxdesktop
