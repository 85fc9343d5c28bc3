#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <string>

namespace brimlow {

// The count label's text around an already formatted count.
std::string countLabelText(const std::string& count);

// The preferences window's controller: it holds the live settings in its controls, the
// status icon and its images.
class MainVC final : public platform::PreferencesController {
public:
    MainVC(const platform::Desktop& desktop, platform::MainInterface& interface);
    ~MainVC() override;
    MainVC(const MainVC&) = delete;
    MainVC& operator=(const MainVC&) = delete;

    // Restores the settings from the store; runs once, before start-up.
    void viewDidLoad();

    void stepperChanged(platform::Stepper& sender) override;
    void hideIconChecked(platform::CheckBox& sender) override;
    void appRunningComboEdited(platform::ComboBox& sender) override;
    void showprefWindow() override;
    void exclaimBtnPressed() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;
    void viewDidDisappear() override;

    void applyHideIcon(platform::CheckBox& checkBox);

    // Outlets.
    platform::TextField* idleDurationLabel = nullptr;
    platform::Stepper* idleStepper = nullptr;
    platform::CheckBox* hideIconCheckBox = nullptr;
    platform::Menu* mnu = nullptr;
    platform::Button* exclaimBtn = nullptr;
    platform::ComboBox* appRunningCombo = nullptr;
    platform::TextField* movedLbl = nullptr;

    // The status icon; absent while the user hides it.
    std::unique_ptr<platform::StatusItem> systemMenu;
    std::shared_ptr<const platform::Image> icon;
    std::shared_ptr<const platform::Image> icon_green;
    std::shared_ptr<const platform::Image> icon_bw;

private:
    void applyIdleDuration(platform::Stepper& sender);
    void refreshAppList();
    void restoreAppRunning();
    void saveAppRunning();
    void showIcon();
    void hideIcon();

    const platform::Desktop& desktop_;
    platform::Window* window_;
};

// The one preferences controller, once its view has loaded.
extern MainVC* mainVC;

} // namespace brimlow
