#include "TServices.h"

#include "TClock.h"

#include <QSysInfo>
#include <QtGlobal>

#include <utility>

namespace {
TServices* installed = nullptr;
}

TServices::~TServices()
{
    if (installed == this)
        installed = nullptr;
}

TServices& TServices::current()
{
    if (installed == nullptr)
        qFatal("TServices::current() called before any services were installed");
    return *installed;
}

TServices* TServices::setCurrent(TServices* services)
{
    return std::exchange(installed, services);
}

QString TServices::messageTitle(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QStringLiteral("Information");
    case MessageKind::Warning:
        return QStringLiteral("Warning");
    case MessageKind::Error:
        return QStringLiteral("Error");
    case MessageKind::Confirmation:
        return QStringLiteral("Confirm");
    }
    return {};
}

QDateTime TServices::now() const
{
    return TClock::now();
}

void TServices::showApplicationError(const QString& text)
{
    message(MessageKind::Error, MessageButtons::Ok, text);
}

QString TServices::pickSaveFile(const QString& /*caption*/, const QString& /*suggested*/, const QString& /*filter*/)
{
    return QString();
}

QString TServices::pickOpenFile(const QString& /*caption*/, const QString& /*filter*/)
{
    return QString();
}

int TServices::choose(const QString& /*text*/, const QStringList& /*choices*/)
{
    return -1;
}

TServices::HandOffResult TServices::mailAvailability()
{
    return {Outcome::NotAvailable, QStringLiteral("This workstation has no mail system")};
}

void TServices::sendMail(const MailMessage& /*mail*/, std::function<void(const HandOffResult&)> finished)
{
    if (finished)
        finished(mailAvailability());
}

quint32 TServices::notify(const DesktopNotification& /*note*/, std::function<void()> /*onActivated*/)
{
    return 0;
}

void TServices::withdrawNotification(quint32 /*handle*/)
{
}

QString TServices::hostName()
{
    return QSysInfo::machineHostName();
}
