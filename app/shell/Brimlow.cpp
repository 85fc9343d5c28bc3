#include "Brimlow.h"

namespace brimlow {

Brimlow::Brimlow(const platform::Desktop& desktop) : desktop_(desktop) {}

int Brimlow::main() {
    return desktop_.application.main(
        [this](platform::MainInterface& interface) -> platform::ApplicationDelegate& {
            return interfaceLoaded(interface);
        });
}

platform::ApplicationDelegate& Brimlow::interfaceLoaded(platform::MainInterface& interface) {
    mainVC_ = std::make_unique<MainVC>(desktop_, interface);
    mainVC_->viewDidLoad();
    delegate_ = std::make_unique<AppDelegate>(desktop_, interface.window());
    return *delegate_;
}

} // namespace brimlow
