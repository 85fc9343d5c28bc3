#include "MutterIdleClock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <optional>

namespace brimlow::platform::linuxdesktop {
namespace {

using Clock = std::chrono::steady_clock;

const QString service = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString path = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString interface = QStringLiteral("org.gnome.Mutter.IdleMonitor");
constexpr std::chrono::milliseconds idleAfter{1000};
// An answer slower than this would hold up start-up for nothing.
constexpr int answerTimeoutMs = 500;

} // namespace

class MutterIdleClock::Watches final : public QObject {
    Q_OBJECT
public:
    explicit Watches(Console& console) : console_(console) {}

    void start() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(service, path, interface, QStringLiteral("WatchFired"), this,
                    SLOT(fired(uint)));
        const std::optional<std::uint64_t> idle = ask(QStringLiteral("GetIdletime"), {});
        idleWatch_ = ask(QStringLiteral("AddIdleWatch"), {quint64(idleAfter.count())});
        if (!idle || !idleWatch_) {
            return;
        }
        // Already idle: the idle watch fires only after the next input.
        if (std::chrono::milliseconds(*idle) >= idleAfter) {
            becameIdle(Clock::now() - std::chrono::milliseconds(*idle));
        }
    }

    double seconds() const {
        if (!idleSince_) {
            return 0;
        }
        const auto since =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *idleSince_);
        return double(since.count()) / 1000;
    }

public slots:
    void fired(uint id) {
        if (idleWatch_ && id == *idleWatch_) {
            becameIdle(Clock::now() - idleAfter);
        } else if (activeWatch_ && id == *activeWatch_) {
            // A user-active watch fires once and is gone.
            activeWatch_.reset();
            idleSince_.reset();
        }
    }

private:
    void becameIdle(Clock::time_point since) {
        idleSince_ = since;
        if (!activeWatch_) {
            activeWatch_ = ask(QStringLiteral("AddUserActiveWatch"), {});
        }
    }

    std::optional<std::uint64_t> ask(const QString& method, const QList<QVariant>& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(arguments);
        QDBusMessage answer =
            QDBusConnection::sessionBus().call(call, QDBus::Block, answerTimeoutMs);
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1 ||
            !answer.arguments().front().canConvert<qulonglong>()) {
            if (!reported_) {
                console_.printLine("GNOME's idle monitor did not answer " + method.toStdString() +
                                   " (" + answer.errorMessage().toStdString() +
                                   "); idle time reads 0");
                reported_ = true;
            }
            return std::nullopt;
        }
        return answer.arguments().front().toULongLong();
    }

    Console& console_;
    std::optional<std::uint64_t> idleWatch_;
    std::optional<std::uint64_t> activeWatch_;
    std::optional<Clock::time_point> idleSince_;
    bool reported_ = false;
};

MutterIdleClock::MutterIdleClock(Console& console) : watches_(std::make_unique<Watches>(console)) {
    watches_->start();
}

MutterIdleClock::~MutterIdleClock() = default;

bool MutterIdleClock::isAvailable() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus != nullptr && bus->isServiceRegistered(service).value();
}

double MutterIdleClock::secondsSinceLastInput() {
    return watches_->seconds();
}

} // namespace brimlow::platform::linuxdesktop

#include "MutterIdleClock.moc"
