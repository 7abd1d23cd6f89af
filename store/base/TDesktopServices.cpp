#include "TDesktopServices.h"

TDesktopServices::~TDesktopServices() = default;

TDesktopServices::HandOffResult TDesktopServices::mailAvailability()
{
    return {Outcome::NotAvailable, QStringLiteral("This workstation has no mail system")};
}

void TDesktopServices::sendMail(const MailMessage& /*mail*/, std::function<void(const HandOffResult&)> finished)
{
    if (finished)
        finished(mailAvailability());
}

quint32 TDesktopServices::notify(const DesktopNotification& /*note*/, std::function<void()> /*onActivated*/)
{
    return 0;
}

void TDesktopServices::withdrawNotification(quint32 /*handle*/)
{
}
