#include "SimDesktop.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace brimlow::platform::sim {

int SimApplication::main(const InterfaceLoaded& interfaceLoaded) {
    if (anotherCopyRuns) {
        handedOver = true;
        return 0;
    }
    delegate_ = &interfaceLoaded(interface_);
    delegate_->applicationDidFinishLaunching();
    return 0;
}

ActivationPolicy SimApplication::activationPolicy() const {
    return policies.empty() ? ActivationPolicy::regular : policies.back();
}

bool SimApplication::reopen(bool hasVisibleWindows) {
    return delegate_ != nullptr && delegate_->applicationShouldHandleReopen(hasVisibleWindows);
}

std::int64_t SimPreferenceStore::integerForKey(const std::string& key) {
    auto found = values.find(key);
    if (found == values.end()) {
        return 0;
    }
    const std::string& text = found->second;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

void SimPreferenceStore::setInteger(const std::string& key, std::int64_t value) {
    setString(key, std::to_string(value));
}

std::optional<std::string> SimPreferenceStore::stringForKey(const std::string& key) {
    auto found = values.find(key);
    if (found == values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimPreferenceStore::setString(const std::string& key, const std::string& value) {
    values[key] = value;
    writes.emplace_back(key, value);
}

std::vector<RunningApplication> SimWorkspace::runningApplications() {
    ++walks;
    return applications;
}

bool SimWorkspace::launchApplication(const std::string& path) {
    launched.push_back(path);
    if (onLaunch) {
        onLaunch(path);
    }
    return true;
}

LoginItemResult SimLoginItems::enable(const std::string& helperBundleIdentifier) {
    enabled.push_back(helperBundleIdentifier);
    if (onEnable) {
        onEnable();
    }
    return answer;
}

int SimHelperApplication::main(LaunchDelegate& delegate) {
    delegate.applicationDidFinishLaunching();
    return 0;
}

std::string imageName(const std::shared_ptr<const Image>& image) {
    auto simImage = std::dynamic_pointer_cast<const SimImage>(image);
    return simImage ? simImage->name : std::string();
}

std::shared_ptr<const Image> SimImageLibrary::imageNamed(const std::string& name) {
    if (!shipped.contains(name)) {
        return nullptr;
    }
    return std::make_shared<SimImage>(name);
}

SimStatusItem::~SimStatusItem() {
    std::erase(bar_.items, this);
}

std::unique_ptr<StatusItem> SimStatusBar::addItem() {
    auto item = std::make_unique<SimStatusItem>(*this);
    items.push_back(item.get());
    ++itemsAdded;
    return item;
}

void SimConsole::printLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
}

void SimConsole::printTickLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    tickLines_.push_back(line);
}

std::vector<std::string> SimConsole::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> SimConsole::tickLines() const {
    std::lock_guard lock(mutex_);
    return tickLines_;
}

int SimAlerts::runModal(const Alert& alert) {
    Answer answer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    shown.push_back({alert, loop_.now(), answer.response});
    if (onShow) {
        onShow(alert);
    }
    loop_.passModalTime(answer.secondsOpen);
    return answer.response;
}

void SimPointer::postMouseMovedBy(Offset by, DeliveryReport report) {
    Delivery delivery = Delivery::failed(failure);
    if (delivers) {
        position = {position.x + by.dx, position.y + by.dy};
        posted.push_back(position);
        postedAt.push_back(loop_.now());
        delivery = {};
    }
    if (answerDelay == 0) {
        report(delivery);
    } else {
        loop_.asyncAfter(answerDelay, [report, delivery] { report(delivery); });
    }
}

std::optional<bool> deliveredAtOnce(PointerEvents& pointer, Offset by) {
    DeliveryRecord record;
    pointer.postMouseMovedBy(by, record.report());
    if (record.answers.empty()) {
        return std::nullopt;
    }
    return record.answers.front().delivered;
}

void SimSessionLock::setLocked(bool locked) {
    if (locked == locked_) {
        return;
    }
    locked_ = locked;
    for (const auto& changed : observers_) {
        changed();
    }
}

std::shared_ptr<DistributedNotifications::Token>
SimNotifications::addObserver(const std::string& name, const std::optional<std::string>& object,
                              Observer observer) {
    auto token = std::make_shared<SimToken>();
    observers_.push_back({token, name, object, std::move(observer)});
    return token;
}

void SimNotifications::removeObserver(const std::shared_ptr<Token>& token,
                                      const std::string& name) {
    removals.emplace_back(token, name);
    std::erase_if(observers_,
                  [&](const Entry& entry) { return entry.token == token && entry.name == name; });
}

void SimNotifications::post(const std::string& name, const std::string& object) {
    posted.push_back({name, object});
    // A copy: an observer may remove itself, or end its program, while it runs.
    auto observers = observers_;
    for (const auto& entry : observers) {
        if (entry.name == name && (!entry.object || entry.object == object)) {
            entry.observer();
        }
    }
}

void SimHttpClient::send(HttpRequest request, Completion completed) {
    sent.push_back({std::move(request), std::move(completed)});
}

bool SimUrlOpener::openURL(const std::string& url) {
    opened.push_back(url);
    return true;
}

SimDesktop::SimDesktop()
    : desktop{.application = application,
              .mainQueue = runLoop,
              .timers = runLoop,
              .preferences = preferences,
              .workspace = workspace,
              .loginItems = loginItems,
              .statusBar = statusBar,
              .images = images,
              .bundle = bundle,
              .console = console,
              .idleClock = idleClock,
              .alerts = alerts,
              .pointer = pointer,
              .postEventAccess = postEventAccess,
              .sessionLock = sessionLock,
              .notifications = notifications,
              .http = http,
              .host = host,
              .urls = urls} {}

} // namespace brimlow::platform::sim
