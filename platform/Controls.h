#pragma once

#include <string>
#include <vector>

namespace brimlow::platform {

// The controls of the preferences window, as the main interface lays them out. The program
// holds them as non-owning outlets; the platform owns them for the life of the process.

class View {
public:
    virtual ~View() = default;
    virtual bool isHidden() const = 0;
    virtual void setHidden(bool hidden) = 0;
};

class TextField : public virtual View {
public:
    virtual std::string stringValue() const = 0;
    virtual void setStringValue(const std::string& text) = 0;
};

class Button : public virtual View {};

// An integer stepper; values outside its bounds are clamped to them.
class Stepper : public virtual View {
public:
    virtual int intValue() const = 0;
    virtual void setIntValue(int value) = 0;
    virtual double doubleValue() const = 0;
    // The value as the stepper itself writes it.
    virtual std::string stringValue() const = 0;
};

// State 0 is unchecked, 1 checked.
class CheckBox : public virtual View {
public:
    virtual int state() const = 0;
    virtual void setState(int state) = 0;
};

// An editable text with a drop-down list of suggestions.
class ComboBox : public virtual View {
public:
    virtual std::string stringValue() const = 0;
    virtual void setStringValue(const std::string& text) = 0;
    virtual void removeAllItems() = 0;
    virtual void addItems(const std::vector<std::string>& items) = 0;
    virtual std::vector<std::string> items() const = 0;
};

// The status menu. Its Quit item quits through the application object; its Preferences item
// sends showprefWindow to the window's controller.
class Menu {
public:
    virtual ~Menu() = default;
};

// What the preferences window tells the program. All calls come on the main thread.
class PreferencesController {
public:
    virtual ~PreferencesController() = default;
    virtual void stepperChanged(Stepper& sender) = 0;
    virtual void hideIconChecked(CheckBox& sender) = 0;
    virtual void appRunningComboEdited(ComboBox& sender) = 0;
    virtual void showprefWindow() = 0;
    virtual void exclaimBtnPressed() = 0;
    // Before the window goes on screen.
    virtual void viewWillAppear() = 0;
    // When the user closes the window, before it goes.
    virtual void viewWillDisappear() = 0;
    // Once it has gone.
    virtual void viewDidDisappear() = 0;
};

class Window {
public:
    virtual ~Window() = default;
    // Receives the window's actions and view events from now on.
    virtual void setController(PreferencesController* controller) = 0;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Shows the window (telling the controller first if it was off screen), raises it and
    // gives it keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
    virtual bool isVisible() const = 0;
    virtual void makeFirstResponder(View& view) = 0;
};

// The main interface: the preferences window, its controls and the status menu. Loaded once
// at start, off screen.
class MainInterface {
public:
    virtual ~MainInterface() = default;
    virtual Window& window() = 0;
    virtual TextField& idleDurationLabel() = 0;
    virtual Stepper& idleStepper() = 0;
    virtual CheckBox& hideIconCheckBox() = 0;
    virtual Menu& mnu() = 0;
    virtual Button& exclaimBtn() = 0;
    virtual ComboBox& appRunningCombo() = 0;
    virtual TextField& movedLbl() = 0;
};

} // namespace brimlow::platform
