#pragma once

#include "platform/Controls.h"
#include "platform/MainQueue.h"

#include <functional>
#include <memory>

class QMenu;
class QWidget;

namespace brimlow::platform::linuxdesktop {

// The status menu as the tray icon takes it.
class QtMenu final : public Menu {
public:
    explicit QtMenu(QMenu* menu) : menu_(menu) {}
    QMenu* menu() const { return menu_; }

private:
    QMenu* menu_;
};

// The preferences window and the status menu from app/resources/MainMenu.ui, built hidden. Every
// control is found by its object name; a layout that lacks one, or has it as another kind of
// widget, stops the program at once with an exception naming it. Menu actions go through
// `queue`, so they wait for a modal alert like any other work; Quit calls `quit`.
class UiMainInterface final : public MainInterface {
public:
    UiMainInterface(MainQueue& queue, std::function<void()> quit);
    ~UiMainInterface() override;
    UiMainInterface(const UiMainInterface&) = delete;
    UiMainInterface& operator=(const UiMainInterface&) = delete;

    Window& window() override;
    TextField& idleDurationLabel() override;
    Stepper& idleStepper() override;
    CheckBox& hideIconCheckBox() override;
    Menu& mnu() override;
    Button& exclaimBtn() override;
    ComboBox& appRunningCombo() override;
    TextField& movedLbl() override;

    // The preferences window itself.
    QWidget* widget() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brimlow::platform::linuxdesktop
