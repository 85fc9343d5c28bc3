#pragma once

#include "platform/Controls.h"

#include <algorithm>
#include <string>
#include <vector>

namespace brimlow::platform::sim {

class SimView : public virtual View {
public:
    explicit SimView(bool hidden = false) : hidden_(hidden) {}
    bool isHidden() const override { return hidden_; }
    void setHidden(bool hidden) override { hidden_ = hidden; }

private:
    bool hidden_;
};

class SimTextField final : public TextField, public SimView {
public:
    explicit SimTextField(bool hidden = false) : SimView(hidden) {}
    std::string stringValue() const override { return text_; }
    void setStringValue(const std::string& text) override { text_ = text; }

private:
    std::string text_;
};

class SimButton final : public Button, public SimView {};

// Bounds as the real layout sets them.
class SimStepper final : public Stepper, public SimView {
public:
    static constexpr int minimum = 15;
    static constexpr int maximum = 3600;

    int intValue() const override { return value_; }
    void setIntValue(int value) override { value_ = std::clamp(value, minimum, maximum); }
    double doubleValue() const override { return value_; }
    std::string stringValue() const override { return std::to_string(value_); }

private:
    int value_ = minimum;
};

class SimCheckBox final : public CheckBox, public SimView {
public:
    int state() const override { return state_; }
    void setState(int state) override { state_ = state; }

private:
    int state_ = 0;
};

class SimComboBox final : public ComboBox, public SimView {
public:
    std::string stringValue() const override { return text_; }
    void setStringValue(const std::string& text) override { text_ = text; }
    void removeAllItems() override { items_.clear(); }
    void addItems(const std::vector<std::string>& items) override {
        items_.insert(items_.end(), items.begin(), items.end());
    }
    std::vector<std::string> items() const override { return items_; }

private:
    std::string text_;
    std::vector<std::string> items_;
};

class SimMenu final : public Menu {};

class SimWindow final : public Window {
public:
    void setController(PreferencesController* controller) override { controller_ = controller; }
    PreferencesController* controller() const { return controller_; }
    std::string title() const override { return title_; }
    void setTitle(const std::string& title) override { title_ = title; }
    void makeKeyAndOrderFront() override;
    bool isVisible() const override { return visible_; }
    void makeFirstResponder(View& view) override { firstResponder_ = &view; }
    View* firstResponder() const { return firstResponder_; }
    int timesOrderedFront() const { return timesOrderedFront_; }
    // The user closes the window.
    void close();

private:
    PreferencesController* controller_ = nullptr;
    std::string title_ = "Brimlow";
    bool visible_ = false;
    View* firstResponder_ = nullptr;
    int timesOrderedFront_ = 0;
};

// The main interface as the real layout makes it: off screen, warning button shown, count
// label hidden. The user* operations act as the user would and send the control's action.
class SimInterface final : public MainInterface {
public:
    Window& window() override { return window_; }
    TextField& idleDurationLabel() override { return idleDurationLabel_; }
    Stepper& idleStepper() override { return idleStepper_; }
    CheckBox& hideIconCheckBox() override { return hideIconCheckBox_; }
    Menu& mnu() override { return mnu_; }
    Button& exclaimBtn() override { return exclaimBtn_; }
    ComboBox& appRunningCombo() override { return appRunningCombo_; }
    TextField& movedLbl() override { return movedLbl_; }

    SimWindow& simWindow() { return window_; }

    void userSetsStepper(int value);
    void userClicksHideIcon();
    void userTypesApp(const std::string& text) { appRunningCombo_.setStringValue(text); }
    void userConfirmsApp();
    void userChoosesPreferences();
    void userPressesExclaimBtn();

private:
    PreferencesController& controller();

    SimWindow window_;
    SimTextField idleDurationLabel_;
    SimStepper idleStepper_;
    SimCheckBox hideIconCheckBox_;
    SimMenu mnu_;
    SimButton exclaimBtn_;
    SimComboBox appRunningCombo_;
    SimTextField movedLbl_{true};
};

} // namespace brimlow::platform::sim
