#pragma once

#include "TDesktopServices.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <functional>

// The desktop's notification service, org.freedesktop.Notifications on the
// session bus, through Qt D-Bus. A notification carries the program's name
// "Quorla", the summary and the body as plain text (the summary is never read
// as markup, so an event's description shows as typed), one "default" action,
// and no time limit: it stays until the person or the program takes it back.
//
// Nothing here waits for the bus: Notify is sent asynchronously and the
// service's answer, its own id for the notification, arrives later through the
// event loop. A desktop without a session bus or without the service answers
// with an error, which is dropped: nothing changes. The service's
// ActionInvoked for "default" runs the note's action; its NotificationClosed
// forgets the note.
class TDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // Uses the session bus, connected on the first Notify.
    explicit TDesktopNotifier(QObject* parent = nullptr);
    ~TDesktopNotifier() override;

    // See TDesktopServices::notify. 0 when there is no session bus.
    quint32 Notify(const TDesktopServices::DesktopNotification& note, std::function<void()> onActivated);
    // See TDesktopServices::withdrawNotification. A note whose id has not arrived yet
    // is closed as soon as it does.
    void Withdraw(quint32 handle);

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    struct Note
    {
        // The service's id; 0 until its answer arrives.
        uint id = 0;
        std::function<void()> onActivated;
        bool withdrawn = false;
    };

    bool connectBus();
    void answered(quint32 handle, uint id, bool failed);
    void close(uint id);
    // The handle of the note the service knows as `id`, or 0.
    quint32 handleOf(uint id) const;

    QDBusConnection bus_;
    bool listening_ = false;
    quint32 lastHandle_ = 0;
    QHash<quint32, Note> notes_;
};
