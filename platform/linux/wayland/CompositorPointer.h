#pragma once

#include "platform/PointerEvents.h"
#include "platform/PostEventAccess.h"
#include "platform/linux/wayland/WaylandConnection.h"

#include <string>

namespace brimlow::platform::linuxdesktop {

// Pointer moves through a Wayland protocol that the compositor offers only to the programs it
// lets move the pointer: being offered it is the permission, so it is granted from the start
// and never asked for. Main thread only.
class CompositorPointer : public PointerEvents, public PostEventAccess {
public:
    Access check() override { return Access::granted; }
    void request() override {}
    bool isTrusted() override { return true; }
    std::string requestOutcome() override {
        return "Your desktop lets Brimlow move the pointer without asking.";
    }

protected:
    explicit CompositorPointer(WaylandConnection& connection) : connection_(connection) {}
    // Sends the queued move: delivered while the compositor keeps the connection.
    void send(const DeliveryReport& report);
    WaylandConnection& connection_;
};

// wlroots' virtual pointer (sway, Hyprland, labwc, river...): a pointer device of Brimlow's
// own, made at construction.
class WlrVirtualPointer final : public CompositorPointer {
public:
    static constexpr const char* protocol = "zwlr_virtual_pointer_manager_v1";

    explicit WlrVirtualPointer(WaylandConnection& connection);
    ~WlrVirtualPointer() override;
    WlrVirtualPointer(const WlrVirtualPointer&) = delete;
    WlrVirtualPointer& operator=(const WlrVirtualPointer&) = delete;

    void postMouseMovedBy(Offset by, DeliveryReport report) override;
    std::string grantPlace() override { return "your compositor"; }

private:
    void* manager_ = nullptr;
    void* pointer_ = nullptr;
};

// KWin's fake input. KWin shows it only to a program whose installed desktop entry runs the
// program's own executable and names the interface in X-KDE-Wayland-Interfaces.
class KWinFakeInput final : public CompositorPointer {
public:
    static constexpr const char* protocol = "org_kde_kwin_fake_input";
    // Where KWin's permission comes from, for the alert that says how to get it.
    static constexpr const char* permissionPlace =
        "Brimlow's Debian package (KWin lets a program move the pointer once its installed "
        "desktop entry allows it: install the package and start Brimlow from your menu), or "
        "from a remote desktop portal (xdg-desktop-portal-kde)";

    explicit KWinFakeInput(WaylandConnection& connection);
    ~KWinFakeInput() override;
    KWinFakeInput(const KWinFakeInput&) = delete;
    KWinFakeInput& operator=(const KWinFakeInput&) = delete;

    void postMouseMovedBy(Offset by, DeliveryReport report) override;
    std::string grantPlace() override { return permissionPlace; }

private:
    void* fakeInput_ = nullptr;
};

// KWin, known by the Plasma globals it offers every client: there a missing fake input means a
// missing permission rather than a compositor without the protocol.
bool isKWin(const WaylandConnection& connection);

} // namespace brimlow::platform::linuxdesktop
