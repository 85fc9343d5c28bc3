#pragma once

#include "SimInterface.h"
#include "SimRunLoop.h"
#include "platform/Desktop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
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
    // Records the launch; the test decides whether the launched program then runs.
    bool launchApplication(const std::string& path) override;

    std::vector<RunningApplication> applications;
    int walks = 0;
    std::vector<std::string> launched;
    // Called as each launch is made.
    std::function<void(const std::string&)> onLaunch;
};

class SimLoginItems final : public LoginItems {
public:
    LoginItemResult enable(const std::string& helperBundleIdentifier) override;

    LoginItemResult answer{true, ""};
    std::vector<std::string> enabled;
    // Called as each call is made.
    std::function<void()> onEnable;
};

// A helper program's application object: main() delivers the launch; the test then plays the
// rest of its life.
class SimHelperApplication final : public HelperApplication {
public:
    int main(LaunchDelegate& delegate) override;
    void terminate() override { terminated = true; }

    bool terminated = false;
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
    std::string bundlePath() override { return path; }
    std::string shortVersion() override { return version; }
    std::string identifier() override { return bundleIdentifier; }

    std::string path = "/Applications/Brimlow.app";
    std::string version = "2.0";
    std::string bundleIdentifier = "com.pellvane.Brimlow2";
};

class SimConsole final : public Console {
public:
    void printLine(const std::string& line) override;
    // Written like any other line, as on a terminal, and also kept apart.
    void printTickLine(const std::string& line) override;
    // Every line, in order.
    std::vector<std::string> lines() const;
    std::vector<std::string> tickLines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::string> tickLines_;
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
    explicit SimPointer(SimRunLoop& loop) : loop_(loop) {}
    void postMouseMovedBy(Offset by, DeliveryReport report) override;

    Point position{100, 100};
    // While false, moves go nowhere and are answered as failed, with `failure`.
    bool delivers = true;
    std::string failure = "the simulated desktop took no move";
    // How long the desktop takes to answer a move; 0 answers before the post returns.
    double answerDelay = 0;
    // Where each delivered event took the pointer.
    std::vector<Point> posted;
    // When each event was delivered, on the virtual clock.
    std::vector<double> postedAt;

private:
    SimRunLoop& loop_;
};

// What a test needs of a real pointer mechanism's reports: the moves it posted through
// `report()`, answered in order.
struct DeliveryRecord {
    PointerEvents::DeliveryReport report() {
        return [this](const Delivery& delivery) { answers.push_back(delivery); };
    }
    std::vector<Delivery> answers;
};

// Posts `by` and returns whether it was delivered, when `pointer` said so before the post
// returned; nothing when its answer is still to come.
std::optional<bool> deliveredAtOnce(PointerEvents& pointer, Offset by);

// A session that is never locked until the test locks it.
class SimSessionLock final : public SessionLock {
public:
    bool isLocked() const override { return locked_; }
    void observe(std::function<void()> changed) override {
        observers_.push_back(std::move(changed));
    }
    void setLocked(bool locked);

private:
    bool locked_ = false;
    std::vector<std::function<void()>> observers_;
};

class SimPostEventAccess final : public PostEventAccess {
public:
    Access check() override { return answer; }
    void request() override { ++requests; }
    bool isTrusted() override { return trusted; }
    std::string requestOutcome() override { return "The simulated desktop now asks you."; }
    std::string grantPlace() override { return "the simulated settings"; }

    Access answer = Access::undecided;
    bool trusted = false;
    int requests = 0;
};

// The session's notification center, shared by every program a test runs on it: a posting
// reaches the observers at once, on the posting thread.
class SimNotifications final : public DistributedNotifications {
public:
    class SimToken final : public Token {};
    struct Posting {
        std::string name;
        std::string object;
    };

    std::shared_ptr<Token> addObserver(const std::string& name,
                                       const std::optional<std::string>& object,
                                       Observer observer) override;
    void removeObserver(const std::shared_ptr<Token>& token, const std::string& name) override;
    void post(const std::string& name, const std::string& object) override;

    std::vector<Posting> posted;
    std::vector<std::pair<std::shared_ptr<Token>, std::string>> removals;
    std::size_t observerCount() const { return observers_.size(); }

private:
    struct Entry {
        std::shared_ptr<Token> token;
        std::string name;
        std::optional<std::string> object;
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

    // This desktop with the services that `replacements` implement swapped for them, for a test
    // that fakes or wraps just those.
    template <typename... Services> Desktop with(Services&... replacements);

    SimRunLoop runLoop;
    SimInterface interface;
    SimApplication application{interface};
    SimPreferenceStore preferences;
    SimWorkspace workspace;
    SimLoginItems loginItems;
    SimStatusBar statusBar;
    SimImageLibrary images;
    SimBundleInfo bundle;
    SimConsole console;
    SimIdleClock idleClock{runLoop};
    SimAlerts alerts{runLoop};
    SimPointer pointer{runLoop};
    SimPostEventAccess postEventAccess;
    SimSessionLock sessionLock;
    SimNotifications notifications;
    SimHttpClient http;
    SimHostIdentity host;
    SimUrlOpener urls;

    const Desktop desktop;

private:
    // The last of `replacements` that implements Interface, else `own`.
    template <typename Interface, typename... Services>
    static Interface& either(Interface& own, Services&... replacements) {
        Interface* chosen = &own;
        (
            [&](auto& replacement) {
                if constexpr (std::is_base_of_v<Interface, std::decay_t<decltype(replacement)>>) {
                    chosen = &replacement;
                }
            }(replacements),
            ...);
        return *chosen;
    }
};

template <typename... Services> Desktop SimDesktop::with(Services&... replacements) {
    return Desktop{.application = either<Application>(application, replacements...),
                   .mainQueue = either<MainQueue>(runLoop, replacements...),
                   .timers = either<RunLoopTimers>(runLoop, replacements...),
                   .preferences = either<PreferenceStore>(preferences, replacements...),
                   .workspace = either<Workspace>(workspace, replacements...),
                   .loginItems = either<LoginItems>(loginItems, replacements...),
                   .statusBar = either<StatusBar>(statusBar, replacements...),
                   .images = either<ImageLibrary>(images, replacements...),
                   .bundle = either<BundleInfo>(bundle, replacements...),
                   .console = either<Console>(console, replacements...),
                   .idleClock = either<IdleClock>(idleClock, replacements...),
                   .alerts = either<Alerts>(alerts, replacements...),
                   .pointer = either<PointerEvents>(pointer, replacements...),
                   .postEventAccess = either<PostEventAccess>(postEventAccess, replacements...),
                   .sessionLock = either<SessionLock>(sessionLock, replacements...),
                   .notifications =
                       either<DistributedNotifications>(notifications, replacements...),
                   .http = either<HttpClient>(http, replacements...),
                   .host = either<HostIdentity>(host, replacements...),
                   .urls = either<UrlOpener>(urls, replacements...)};
}

} // namespace brimlow::platform::sim
