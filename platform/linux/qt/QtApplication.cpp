#include "QtApplication.h"

#include "UiMainInterface.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <malloc.h>
#include <optional>

namespace brimlow::platform::linuxdesktop {
namespace {

constexpr int handoverTimeoutMs = 5000;

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

private:
    QtApplication::Impl& application_;
};

class QtApplication::Impl : public QObject {
public:
    Impl(QtMainLoop& mainLoop, SkipTaskbar skip, Console& output, std::string name)
        : loop(mainLoop), skipTaskbar(std::move(skip)), console(output), busName(std::move(name)),
          reopenService(*this) {}

    // The exit status when another copy runs: it took the request, or failed to.
    std::optional<int> handOver();
    void reopen();
    void applyActivationPolicy(bool mapped);
    // The request is the X11 window manager's: only for windows Qt put on X.
    bool canSkipTaskbar() const { return skipTaskbar && QGuiApplication::platformName() == u"xcb"; }

    QtMainLoop& loop;
    SkipTaskbar skipTaskbar;
    Console& console;
    const std::string busName;
    ReopenService reopenService;
    std::unique_ptr<UiMainInterface> interface;
    ApplicationDelegate* delegate = nullptr;
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
    QDBusMessage request = QDBusMessage::createMethodCall(
        name, applicationPath, applicationInterface, QStringLiteral("Reopen"));
    QDBusMessage answer = bus.call(request, QDBus::Block, handoverTimeoutMs);
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

QtApplication::QtApplication(QtMainLoop& loop, SkipTaskbar skipTaskbar, Console& console,
                             std::string busName)
    : impl_(std::make_unique<Impl>(loop, std::move(skipTaskbar), console, std::move(busName))) {}

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
        window->activateWindow();
    }
}

} // namespace brimlow::platform::linuxdesktop

#include "QtApplication.moc"
