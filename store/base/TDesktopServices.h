#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class QPrinter;

// What the program hands to the desktop it runs on: the mail system, the
// notification service, the help viewer, the printer dialog, the screen, the
// start-up show state and the beep. Only the desktop program (and its tests)
// has one; the command-line tools have none and are handed none.
class TDesktopServices
{
public:
    enum class ShowState { Normal, Minimised, Maximised };

    // How a hand-off to the mail system, the printer or the help viewer ended.
    enum class Outcome { Done, Cancelled, Failed, NotAvailable };

    // A message for the workstation's mail system. Recipients are names the mail
    // system resolves (user names or addresses); body lines are joined with line
    // breaks by the implementation.
    struct MailMessage
    {
        QStringList recipients;
        QString subject;
        QStringList bodyLines;
    };

    // A notification for the desktop's notification service: a one-line
    // summary and a body, both plain text.
    struct DesktopNotification
    {
        QString summary;
        QString body;
    };

    struct HandOffResult
    {
        Outcome outcome = Outcome::NotAvailable;
        // Why it failed, in words the user can read; empty unless Failed.
        QString errorText;
    };

    TDesktopServices() = default;
    virtual ~TDesktopServices();
    TDesktopServices(const TDesktopServices&) = delete;
    TDesktopServices& operator=(const TDesktopServices&) = delete;

    virtual void beep() = 0;

    // Size in pixels of the primary display.
    virtual QSize screenSize() = 0;
    // How the program was asked to show itself when it was started.
    virtual ShowState startupShowState() = 0;

    // Whether a message can be handed to the workstation's mail system: Done
    // when it can; NotAvailable, with the reason in words the person can act
    // on, when there is nothing to hand it to. The base has no mail system.
    virtual HandOffResult mailAvailability();
    // Hands a message to the workstation's mail system, whose own compose
    // window shows it for review and sending, and returns at once: nothing
    // waits for the mail program. `finished` is told, later and from the
    // event loop, how the hand-off ended: Done when the mail program took the
    // message (whether the person then sends it or cancels it there cannot be
    // seen), Failed or NotAvailable with the reason. The base tells
    // NotAvailable at once.
    virtual void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished);
    // Shows the print dialog for `printer`. True when the user confirmed it: the
    // printer (or the file it prints to) is then set up as chosen and the caller
    // paints the document on it. False when the user cancelled: print nothing.
    virtual bool choosePrinter(QPrinter& printer) = 0;
    // Opens the program's help at `topic`.
    virtual HandOffResult showHelp(const QString& helpFile, const QString& topic) = 0;

    // Hands `note` to the desktop's notification service, when the desktop
    // has one, and runs `onActivated` (on the program's own thread, from its
    // event loop) when the person clicks it. Never waits for the service and
    // never fails: without a service nothing happens. Answers a handle for
    // withdrawNotification; 0 when the note went nowhere. The base has no
    // service.
    virtual quint32 notify(const DesktopNotification& note, std::function<void()> onActivated);
    // Takes back a notification that is no longer needed and forgets its
    // action; unknown handles and 0 are ignored.
    virtual void withdrawNotification(quint32 handle);
};
