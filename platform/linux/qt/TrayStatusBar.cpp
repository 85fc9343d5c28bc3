#include "TrayStatusBar.h"

#include "UiMainInterface.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace brimlow::platform::linuxdesktop {
namespace {

class IconImage final : public Image {
public:
    explicit IconImage(QIcon pixels) : icon(std::move(pixels)) {}
    const QIcon icon;
};

// A tray host shows nothing for an icon without pixels; a transparent one keeps the item
// there, with its tooltip and menu.
QIcon blankIcon() {
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

class TrayStatusItem final : public StatusItem {
public:
    // An item never shown stays out of every tray, and Qt tries none.
    explicit TrayStatusItem(bool shown) {
        tray_.setIcon(blankIcon());
        // A right click opens the context menu by itself; a left click should too.
        QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger &&
                                 tray_.contextMenu() != nullptr) {
                                 tray_.contextMenu()->popup(QCursor::pos());
                             }
                         });
        if (shown) {
            tray_.show();
        }
    }

    void setImage(std::shared_ptr<const Image> image) override {
        auto* iconImage = dynamic_cast<const IconImage*>(image.get());
        tray_.setIcon(iconImage != nullptr ? iconImage->icon : blankIcon());
    }

    void setToolTip(const std::string& text) override {
        tray_.setToolTip(QString::fromStdString(text));
    }

    void setMenu(Menu& menu) override {
        if (auto* qtMenu = dynamic_cast<QtMenu*>(&menu)) {
            tray_.setContextMenu(qtMenu->menu());
        }
    }

private:
    QSystemTrayIcon tray_;
};

bool isDecimal(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

std::shared_ptr<const Image> BundleImageLibrary::imageNamed(const std::string& name) {
    // A name is a file name stem, never a path.
    if (name.empty() || name.find('/') != std::string::npos) {
        return nullptr;
    }
    const std::string prefix = name + "-";
    constexpr std::string_view suffix = ".png";
    QIcon icon;
    bool found = false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(iconDirectory_, error)) {
        const std::string file = entry.path().filename().string();
        if (file.size() <= prefix.size() + suffix.size() || !file.starts_with(prefix) ||
            !file.ends_with(suffix)) {
            continue;
        }
        std::string_view size(file);
        size = size.substr(prefix.size(), size.size() - prefix.size() - suffix.size());
        int pixels = 0;
        auto [end, failure] = std::from_chars(size.data(), size.data() + size.size(), pixels);
        if (!isDecimal(size) || failure != std::errc() || end != size.data() + size.size()) {
            continue;
        }
        icon.addFile(QString::fromStdString(entry.path().string()), QSize(pixels, pixels));
        found = true;
    }
    if (!found) {
        return nullptr;
    }
    return std::make_shared<IconImage>(icon);
}

bool BundleImageLibrary::useAsWindowIcon(const std::string& name) {
    auto image = std::dynamic_pointer_cast<const IconImage>(imageNamed(name));
    if (!image) {
        return false;
    }
    QGuiApplication::setWindowIcon(image->icon);
    return true;
}

std::unique_ptr<StatusItem> TrayStatusBar::addItem() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        return std::make_unique<TrayStatusItem>(true);
    }
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const bool gnome = desktop != nullptr && std::strstr(desktop, "GNOME") != nullptr;
    console_.printLine(std::string("No tray on this desktop, so no tray icon") +
                       (gnome ? " (GNOME shows tray icons with its AppIndicator extension: install "
                                "gnome-shell-extension-appindicator, log in again and run "
                                "gnome-extensions enable ubuntu-appindicators@ubuntu.com)"
                              : "") +
                       ": open Brimlow again from the menu or with brimlow to see its window");
    // Qt decides once per run whether a StatusNotifierItem host is there. Without one, an item
    // shown on X11 waits for an XEmbed tray, which may still come; elsewhere Qt would try the
    // X11 tray anyway and warn that the platform has none.
    return std::make_unique<TrayStatusItem>(QGuiApplication::platformName() == u"xcb");
}

} // namespace brimlow::platform::linuxdesktop
