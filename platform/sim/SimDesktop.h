#pragma once

#include "SimInterface.h"
#include "SimRunLoop.h"
#include "platform/Desktop.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A deterministic simulated desktop. Tests set what it answers through the public members and
// read back what the program did.
namespace brimlow::platform::sim {

class SimApplication final : public Application {
public:
    explicit SimApplication(MainInterface& interface) : interface_(interface) {}

    // Loads the interface and delivers the launch; the test then drives the run loop.
    int main(const InterfaceLoaded& interfaceLoaded) override;
    void terminate() override { terminated = true; }
    void setActivationPolicy(ActivationPolicy policy) override { policies.push_back(policy); }
    ActivationPolicy activationPolicy() const override;
    void activateIgnoringOtherApps() override { ++activations; }

    // The user opens the program again while it runs.
    bool reopen(bool hasVisibleWindows);

    bool anotherCopyRuns = false;
    bool handedOver = false;
    bool terminated = false;
    int activations = 0;
    std::vector<ActivationPolicy> policies;

private:
    MainInterface& interface_;
    ApplicationDelegate* delegate_ = nullptr;
};

// Stores every value as text, as the real store's file does.
class SimPreferenceStore final : public PreferenceStore {
public:
    std::int64_t integerForKey(const std::string& key) override;
    void setInteger(const std::string& key, std::int64_t value) override;
    std::optional<std::string> stringForKey(const std::string& key) override;
    void setString(const std::string& key, const std::string& value) override;

    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, std::string>> writes;
};

class SimWorkspace final : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override;

    std::vector<RunningApplication> applications;
    int walks = 0;
};

class SimImage final : public Image {
public:
    explicit SimImage(std::string resourceName) : name(std::move(resourceName)) {}
    const std::string name;
};

// The name of a simulated image; empty for none.
std::string imageName(const std::shared_ptr<const Image>& image);

class SimImageLibrary final : public ImageLibrary {
public:
    std::shared_ptr<const Image> imageNamed(const std::string& name) override;

    std::set<std::string> shipped{"trayicon", "trayicon_green", "trayicon_bw"};
};

class SimStatusBar;

class SimStatusItem final : public StatusItem {
public:
    explicit SimStatusItem(SimStatusBar& bar) : bar_(bar) {}
    ~SimStatusItem() override;
    void setImage(std::shared_ptr<const Image> shown) override { image = std::move(shown); }
    void setToolTip(const std::string& text) override { toolTip = text; }
    void setMenu(Menu& attached) override { menu = &attached; }

    std::shared_ptr<const Image> image;
    std::string toolTip;
    Menu* menu = nullptr;

private:
    SimStatusBar& bar_;
};

class SimStatusBar final : public StatusBar {
public:
    std::unique_ptr<StatusItem> addItem() override;

    std::vector<SimStatusItem*> items;
    int itemsAdded = 0;
};

class SimBundleInfo final : public BundleInfo {
public:
    std::string shortVersion() override { return version; }
    std::string identifier() override { return bundleIdentifier; }

    std::string version = "2.0";
    std::string bundleIdentifier = "com.pellvane.Brimlow2";
};

class SimConsole final : public Console {
public:
    void printLine(const std::string& line) override;
    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Idle time grows with the virtual clock from the user's last input.
class SimIdleClock final : public IdleClock {
public:
    explicit SimIdleClock(const SimRunLoop& loop) : loop_(loop) {}
    double secondsSinceLastInput() override { return loop_.now() - lastInput_; }
    void userInput() { lastInput_ = loop_.now(); }
    void setIdleFor(double seconds) { lastInput_ = loop_.now() - seconds; }

private:
    const SimRunLoop& loop_;
    double lastInput_ = 0;
};

class SimAlerts final : public Alerts {
public:
    struct Answer {
        int response = alertFirstButtonReturn;
        // How long the alert stays on screen.
        double secondsOpen = 0;
    };
    struct Shown {
        Alert alert;
        double shownAt;
        int response;
    };

    explicit SimAlerts(SimRunLoop& loop) : loop_(loop) {}
    int runModal(const Alert& alert) override;

    // Answers for the next alerts, in order; later ones close at once with the first button.
    std::deque<Answer> answers;
    std::vector<Shown> shown;
    // Called as each alert goes on screen.
    std::function<void(const Alert&)> onShow;

private:
    SimRunLoop& loop_;
};

// Posted events move the pointer, as they would on a desktop that allows them.
class SimPointer final : public PointerEvents {
public:
    explicit SimPointer(const SimRunLoop& loop) : loop_(loop) {}
    Point location() override { return position; }
    bool postMouseMoved(Point to) override;

    Point position{100, 100};
    bool eventsCanBeMade = true;
    std::vector<Point> posted;
    // When each event was posted, on the virtual clock.
    std::vector<double> postedAt;

private:
    const SimRunLoop& loop_;
};

class SimPostEventAccess final : public PostEventAccess {
public:
    Access check() override { return answer; }
    void request() override { ++requests; }
    bool isTrusted() override { return trusted; }

    Access answer = Access::undecided;
    bool trusted = false;
    int requests = 0;
};

class SimNotifications final : public DistributedNotifications {
public:
    class SimToken final : public Token {};

    std::shared_ptr<Token> addObserver(const std::string& name, Observer observer) override;
    void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) override;
    // Delivers a posting of `name` to its observers, on the calling thread.
    void deliver(const std::string& name);

    std::vector<std::pair<std::shared_ptr<Token>, std::string>> removals;
    std::size_t observerCount() const { return observers_.size(); }

private:
    struct Entry {
        std::shared_ptr<Token> token;
        std::string name;
        Observer observer;
    };
    std::vector<Entry> observers_;
};

class SimHttpClient final : public HttpClient {
public:
    struct Sent {
        HttpRequest request;
        Completion completed;
    };
    void send(HttpRequest request, Completion completed) override;

    std::vector<Sent> sent;
};

class SimHostIdentity final : public HostIdentity {
public:
    std::string loginName() override { return login; }
    std::string computerName() override { return computer; }
    OsVersion osVersion() override { return os; }

    std::string login = "user1";
    std::string computer = "Lab's Laptop";
    OsVersion os{6, 1};
};

class SimUrlOpener final : public UrlOpener {
public:
    bool openURL(const std::string& url) override;

    std::vector<std::string> opened;
};

class SimDesktop {
public:
    SimDesktop();
    SimDesktop(const SimDesktop&) = delete;
    SimDesktop& operator=(const SimDesktop&) = delete;

    void advance(double seconds) { runLoop.advance(seconds); }

    SimRunLoop runLoop;
    SimInterface interface;
    SimApplication application{interface};
    SimPreferenceStore preferences;
    SimWorkspace workspace;
    SimStatusBar statusBar;
    SimImageLibrary images;
    SimBundleInfo bundle;
    SimConsole console;
    SimIdleClock idleClock{runLoop};
    SimAlerts alerts{runLoop};
    SimPointer pointer{runLoop};
    SimPostEventAccess postEventAccess;
    SimNotifications notifications;
    SimHttpClient http;
    SimHostIdentity host;
    SimUrlOpener urls;

    const Desktop desktop;
};

} // namespace brimlow::platform::sim
