#include "TDesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString AppName = QStringLiteral("Quorla");
const QString AppIcon = QStringLiteral("appointment-soon");
const QString DefaultAction = QStringLiteral("default");
constexpr uchar NormalUrgency = 1;
// Never expires: the program takes it back when the alarm is answered.
constexpr int NoTimeLimit = 0;

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent)
    : QObject(parent), bus_(QString())
{
}

TDesktopNotifier::~TDesktopNotifier() = default;

bool TDesktopNotifier::connectBus()
{
    if (!listening_) {
        bus_ = QDBusConnection::sessionBus();
        if (!bus_.isConnected())
            return false;
        // From whichever connection owns the service name: a service started
        // on demand by the bus gets a new one.
        bus_.connect(QString(), Path, Interface, QStringLiteral("ActionInvoked"), this,
                     SLOT(actionInvoked(uint, QString)));
        bus_.connect(QString(), Path, Interface, QStringLiteral("NotificationClosed"), this,
                     SLOT(notificationClosed(uint, uint)));
        listening_ = true;
    }
    return bus_.isConnected();
}

quint32 TDesktopNotifier::Notify(const TDesktopServices::DesktopNotification& note, std::function<void()> onActivated)
{
    if (!connectBus())
        return 0;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(NormalUrgency));
    call << AppName << uint(0) << AppIcon << note.summary << note.body
         << QStringList{DefaultAction, QStringLiteral("Show")} << hints << NoTimeLimit;

    const quint32 handle = ++lastHandle_ == 0 ? ++lastHandle_ : lastHandle_;
    notes_.insert(handle, Note{0, std::move(onActivated), false});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, handle](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        answered(handle, reply.isError() ? 0 : reply.value(), reply.isError());
    });
    return handle;
}

void TDesktopNotifier::answered(quint32 handle, uint id, bool failed)
{
    const auto note = notes_.find(handle);
    if (note == notes_.end())
        return;
    if (failed || id == 0) {
        // No service, or one that refused: nothing was shown.
        notes_.erase(note);
        return;
    }
    note->id = id;
    if (note->withdrawn) {
        notes_.erase(note);
        close(id);
    }
}

void TDesktopNotifier::Withdraw(quint32 handle)
{
    const auto note = notes_.find(handle);
    if (note == notes_.end())
        return;
    if (note->id == 0) {
        // Closed when the service's answer comes.
        note->withdrawn = true;
        note->onActivated = nullptr;
        return;
    }
    const uint id = note->id;
    notes_.erase(note);
    close(id);
}

void TDesktopNotifier::close(uint id)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CloseNotification"));
    call << id;
    // The answer tells nothing we need: a note the person closed already is
    // gone either way.
    bus_.call(call, QDBus::NoBlock);
}

quint32 TDesktopNotifier::handleOf(uint id) const
{
    for (auto note = notes_.cbegin(); note != notes_.cend(); ++note) {
        if (note->id == id && id != 0)
            return note.key();
    }
    return 0;
}

void TDesktopNotifier::actionInvoked(uint id, const QString& actionKey)
{
    const quint32 handle = handleOf(id);
    if (handle == 0 || actionKey != DefaultAction)
        return;
    // A copy: the action may withdraw its own note.
    const std::function<void()> action = notes_.value(handle).onActivated;
    if (!action)
        return;
    try {
        action();
    } catch (...) {
        // Raised from the bus's signal in the event loop, which must not see
        // it; the action shows its own errors.
    }
}

void TDesktopNotifier::notificationClosed(uint id, uint /*reason*/)
{
    notes_.remove(handleOf(id));
}
