#include "TScriptedDesktopServices.h"

#include <QPrinter>

TScriptedDesktopServices::~TScriptedDesktopServices()
{
    failOnLeftovers(takePendingScript());
}

QStringList TScriptedDesktopServices::takePendingScript()
{
    QStringList pending;
    for (const QString& printer : std::exchange(printers_, {}))
        pending << QStringLiteral("print dialog to \"%1\" (empty: cancel)").arg(printer);
    return pending;
}

void TScriptedDesktopServices::sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished)
{
    mails_.append(mail);
    if (finished)
        finished(handOff_);
}

bool TScriptedDesktopServices::choosePrinter(QPrinter& printer)
{
    if (printers_.isEmpty()) {
        unexpected_ << QStringLiteral("unexpected print dialog");
        return false;
    }
    const QString pdfFile = printers_.dequeue();
    if (pdfFile.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfFile);
    return true;
}

quint32 TScriptedDesktopServices::notify(const DesktopNotification& note, std::function<void()> onActivated)
{
    notifications_.append({note, std::move(onActivated), false});
    return quint32(notifications_.size());
}

void TScriptedDesktopServices::withdrawNotification(quint32 handle)
{
    if (handle == 0 || handle > quint32(notifications_.size())) {
        unexpected_ << QStringLiteral("withdrawn a notification never shown: %1").arg(handle);
        return;
    }
    notifications_[int(handle) - 1].withdrawn = true;
}

bool TScriptedDesktopServices::activateNotification(int index)
{
    const Notification& shown = notifications_.at(index);
    if (shown.withdrawn || !shown.onActivated)
        return false;
    // A copy: the action may withdraw its own notification.
    const std::function<void()> action = shown.onActivated;
    action();
    return true;
}
