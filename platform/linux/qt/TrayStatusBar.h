#pragma once

#include "platform/Console.h"
#include "platform/StatusBar.h"

#include <string>

namespace brimlow::platform::linuxdesktop {

// The program's images: <name>-<size>.png files in the bundle's Contents/Resources/icons, every
// size of a name in one icon, so the desktop picks the size it draws.
class BundleImageLibrary final : public ImageLibrary {
public:
    explicit BundleImageLibrary(std::string iconDirectory)
        : iconDirectory_(std::move(iconDirectory)) {}

    std::shared_ptr<const Image> imageNamed(const std::string& name) override;
    // Makes the image of that name the icon of the program's windows; false when there is none.
    bool useAsWindowIcon(const std::string& name);

private:
    std::string iconDirectory_;
};

// Icons in the desktop's tray through QSystemTrayIcon: a StatusNotifierItem when the session
// runs a watcher, an XEmbed icon otherwise. Without any tray host one line says so, and how the
// window is reached instead. Main thread only.
class TrayStatusBar final : public StatusBar {
public:
    explicit TrayStatusBar(Console& console) : console_(console) {}
    std::unique_ptr<StatusItem> addItem() override;

private:
    Console& console_;
};

} // namespace brimlow::platform::linuxdesktop
