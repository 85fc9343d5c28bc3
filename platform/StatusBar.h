#pragma once

#include <memory>
#include <string>

namespace brimlow::platform {

class Menu;

// An image resource; opaque to the program.
class Image {
public:
    virtual ~Image() = default;
};

// The program's own images, by resource name.
class ImageLibrary {
public:
    virtual ~ImageLibrary() = default;
    // Nothing when no image of that name ships with the program.
    virtual std::shared_ptr<const Image> imageNamed(const std::string& name) = 0;
};

// An icon in the desktop's status area (the tray). Destroying it removes it.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    // No image (a null pointer) leaves the icon blank; it still has its tooltip and menu.
    virtual void setImage(std::shared_ptr<const Image> image) = 0;
    virtual void setToolTip(const std::string& text) = 0;
    // Clicking the icon opens `menu`.
    virtual void setMenu(Menu& menu) = 0;
};

class StatusBar {
public:
    virtual ~StatusBar() = default;
    // A new, empty icon, as wide as the status area is high.
    virtual std::unique_ptr<StatusItem> addItem() = 0;
};

} // namespace brimlow::platform
