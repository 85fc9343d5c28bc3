#include "SimInterface.h"

#include <stdexcept>

namespace brimlow::platform::sim {

void SimWindow::makeKeyAndOrderFront() {
    if (!visible_ && controller_ != nullptr) {
        controller_->viewWillAppear();
    }
    visible_ = true;
    ++timesOrderedFront_;
}

void SimWindow::close() {
    if (!visible_) {
        return;
    }
    if (controller_ != nullptr) {
        controller_->viewWillDisappear();
    }
    visible_ = false;
    if (controller_ != nullptr) {
        controller_->viewDidDisappear();
    }
}

PreferencesController& SimInterface::controller() {
    if (window_.controller() == nullptr) {
        throw std::logic_error("the interface has no controller yet");
    }
    return *window_.controller();
}

void SimInterface::userSetsStepper(int value) {
    idleStepper_.setIntValue(value);
    controller().stepperChanged(idleStepper_);
}

void SimInterface::userClicksHideIcon() {
    hideIconCheckBox_.setState(hideIconCheckBox_.state() == 1 ? 0 : 1);
    controller().hideIconChecked(hideIconCheckBox_);
}

void SimInterface::userConfirmsApp() {
    controller().appRunningComboEdited(appRunningCombo_);
}

void SimInterface::userChoosesPreferences() {
    controller().showprefWindow();
}

void SimInterface::userPressesExclaimBtn() {
    controller().exclaimBtnPressed();
}

} // namespace brimlow::platform::sim
