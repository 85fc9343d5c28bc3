#include "QtApplication.h"

#include "UiMainInterface.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <algorithm>
#include <malloc.h>
#include <optional>
#include <utility>

namespace brimlow::platform::linuxdesktop {
namespace {

constexpr int handoverTimeoutMs = 5000;
// Far above any token a compositor hands out (KWin's and mutter's are under 100 characters); a
// longer one would not fit in one Wayland request, and the compositor would drop the connection.
constexpr qsizetype longestActivationToken = 1024;

// A token is passed on to the compositor as it came, so it has to be something a compositor
// could have made: printable ASCII of reasonable length.
bool plausibleActivationToken(const QString& token) {
    return !token.isEmpty() && token.size() <= longestActivationToken &&
           std::all_of(token.begin(), token.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
}

// With the desktop's activation token where it gave one; a copy from before tokens were handed
// over knows only the plain request.
QDBusMessage askToReopen(QDBusConnection& bus, const QString& name) {
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty()) {
        QDBusMessage request = QDBusMessage::createMethodCall(
            name, applicationPath, applicationInterface, QStringLiteral("ReopenWithToken"));
        request << token;
        QDBusMessage answer = bus.call(request, QDBus::Block, handoverTimeoutMs);
        if (answer.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
            return answer;
        }
    }
    return bus.call(QDBusMessage::createMethodCall(name, applicationPath, applicationInterface,
                                                   QStringLiteral("Reopen")),
                    QDBus::Block, handoverTimeoutMs);
}

} // namespace

// The object a second start calls. The request is queued: it may arrive while a modal alert
// runs, and the reply goes out at once so the second start can exit.
class ReopenService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pellvane.Brimlow2.Application")
public:
    explicit ReopenService(QtApplication::Impl& application) : application_(application) {}

public slots:
    void Reopen();
    // As Reopen, with the activation token the desktop gave the second start: on Wayland only
    // a token lets a window take the focus.
    void ReopenWithToken(const QString& token);

private:
    QtApplication::Impl& application_;
};

class QtApplication::Impl : public QObject {
public:
    Impl(QtMainLoop& mainLoop, SkipTaskbar skip, ActivateWithToken activate, Console& output,
         std::string name)
        : loop(mainLoop), skipTaskbar(std::move(skip)), activateWithToken(std::move(activate)),
          console(output), busName(std::move(name)), reopenService(*this) {}

    // The exit status when another copy runs: it took the request, or failed to.
    std::optional<int> handOver();
    void reopen();
    void activate(QWidget& window);
    void applyActivationPolicy(bool mapped);
    // The request is the X11 window manager's: only for windows Qt put on X.
    bool canSkipTaskbar() const { return skipTaskbar && QGuiApplication::platformName() == u"xcb"; }

    QtMainLoop& loop;
    SkipTaskbar skipTaskbar;
    ActivateWithToken activateWithToken;
    Console& console;
    const std::string busName;
    ReopenService reopenService;
    std::unique_ptr<UiMainInterface> interface;
    ApplicationDelegate* delegate = nullptr;
    // From the latest second start, until the window is next activated.
    std::string activationToken;
    ActivationPolicy policy = ActivationPolicy::regular;
    bool terminated = false;

protected:
    // The window's state is set just before it maps; a spontaneous show is the desktop
    // restoring a mapped window.
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            applyActivationPolicy(false);
        }
        return false;
    }
};

void ReopenService::Reopen() {
    application_.activationToken.clear();
    application_.reopen();
}

void ReopenService::ReopenWithToken(const QString& token) {
    application_.activationToken =
        plausibleActivationToken(token) ? token.toStdString() : std::string();
    application_.reopen();
}

void QtApplication::Impl::reopen() {
    loop.async([this] {
        if (delegate != nullptr) {
            delegate->applicationShouldHandleReopen(interface->window().isVisible());
        }
    });
}

std::optional<int> QtApplication::Impl::handOver() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        console.printLine("No D-Bus session bus: running without handing a second start over to "
                          "this one");
        return std::nullopt;
    }
    if (busName.empty()) {
        console.printLine("The bundle has no identifier: running without handing a second start "
                          "over to this one");
        return std::nullopt;
    }
    const QString name = QString::fromStdString(busName);
    // The object is in place before the name appears, so a second start never finds the name
    // without it.
    bus.registerObject(applicationPath, &reopenService, QDBusConnection::ExportAllSlots);
    auto claimed =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        console.printLine("Could not claim the session bus name " + busName + " (" +
                          claimed.error().message().toStdString() + "): running without handover");
        return std::nullopt;
    }
    if (claimed.value() == QDBusConnectionInterface::ServiceRegistered) {
        return std::nullopt;
    }
    bus.unregisterObject(applicationPath);
    QDBusMessage answer = askToReopen(bus, name);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        console.printLine("Brimlow already runs but did not take the request (" +
                          answer.errorMessage().toStdString() + ")");
        return 1;
    }
    return 0;
}

void QtApplication::Impl::applyActivationPolicy(bool mapped) {
    if (interface == nullptr || !canSkipTaskbar()) {
        return;
    }
    skipTaskbar(interface->widget()->winId(), mapped, policy == ActivationPolicy::accessory);
}

void QtApplication::Impl::activate(QWidget& window) {
    const std::string token = std::exchange(activationToken, {});
    if (token.empty() || !activateWithToken || window.windowHandle() == nullptr ||
        !activateWithToken(*window.windowHandle(), token)) {
        window.activateWindow();
    }
}

QtApplication::QtApplication(QtMainLoop& loop, SkipTaskbar skipTaskbar,
                             ActivateWithToken activateWithToken, Console& console,
                             std::string busName)
    : impl_(std::make_unique<Impl>(loop, std::move(skipTaskbar), std::move(activateWithToken),
                                   console, std::move(busName))) {}

QtApplication::~QtApplication() = default;

int QtApplication::main(const InterfaceLoaded& interfaceLoaded) {
    if (std::optional<int> handedOver = impl_->handOver()) {
        return *handedOver;
    }
    impl_->interface = std::make_unique<UiMainInterface>(impl_->loop, [this] { terminate(); });
    impl_->interface->widget()->installEventFilter(impl_.get());
    ApplicationDelegate& delegate = interfaceLoaded(*impl_->interface);
    impl_->delegate = &delegate;
    // Ahead of anything the program queued while it built itself.
    impl_->loop.asyncFirst([&delegate] { delegate.applicationDidFinishLaunching(); });
    // What start-up read and built and has let go of since (the property lists, the
    // preference file, the window's description) goes back to the system, not to a heap that
    // would hold it for the rest of the run.
    impl_->loop.async([] { malloc_trim(0); });
    if (impl_->terminated) {
        return 0;
    }
    return QApplication::exec();
}

void QtApplication::terminate() {
    impl_->terminated = true;
    QCoreApplication::exit(0);
}

void QtApplication::setActivationPolicy(ActivationPolicy policy) {
    impl_->policy = policy;
    // A hidden window takes the policy when it is next shown.
    if (impl_->interface != nullptr && impl_->interface->widget()->isVisible()) {
        impl_->applyActivationPolicy(true);
    }
}

ActivationPolicy QtApplication::activationPolicy() const {
    return impl_->policy;
}

void QtApplication::activateIgnoringOtherApps() {
    if (impl_->interface == nullptr) {
        return;
    }
    QWidget* window = impl_->interface->widget();
    if (window->isVisible()) {
        window->raise();
        impl_->activate(*window);
    }
}

} // namespace brimlow::platform::linuxdesktop

#include "QtApplication.moc"
