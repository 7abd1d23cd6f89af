#pragma once

#include <QDateTime>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class QPrinter;

// Everything the program needs from the person at the workstation or from the
// machine itself, behind one interface: message boxes, the folder picker, the
// current moment, the logged-on user, the beep, short waits, the busy cursor,
// the screen, the start-up show state, mail, printing, help and the desktop's
// notifications.
//
// The running program installs its Qt implementation once at start; tests
// install a scripted one. Code reaches the installed object through current(),
// so the data store can ask questions without knowing about widgets.
class TServices
{
public:
    enum class MessageKind { Information, Warning, Error, Confirmation };
    enum class MessageButtons { Ok, YesNo, OkCancel };
    enum class MessageAnswer { Ok, Cancel, Yes, No };
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

    TServices() = default;
    virtual ~TServices();
    TServices(const TServices&) = delete;
    TServices& operator=(const TServices&) = delete;

    // The installed services. Calling it before anything was installed is a
    // programming error and ends the process with a message.
    static TServices& current();
    // Installs `services` (not owned; nullptr uninstalls) and returns the one
    // installed before, so that a temporary installation can be undone. The
    // caller keeps it alive while installed; destroying it uninstalls it.
    static TServices* setCurrent(TServices* services);

    // The title of a message box of `kind`: "Information", "Warning", "Error"
    // or "Confirm".
    static QString messageTitle(MessageKind kind);

    // Shows a modal message box titled messageTitle(kind). A "\r" in `text` is a
    // line break. Returns the button chosen; closing the box without a choice
    // answers Cancel (OkCancel), No (YesNo) or Ok (Ok).
    virtual MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) = 0;

    // Asks for a folder, starting in the user's home folder; the user may create
    // a new folder from the picker. Returns the chosen folder, or an empty
    // string when the user cancelled.
    virtual QString pickFolder(const QString& caption) = 0;

    // Asks for the name of a file to write, starting at `suggested` (a name
    // in the user's home folder) and offering files matching `filter`, such as
    // "iCalendar files (*.ics)". Returns the chosen path, or an empty string
    // when the user cancelled. The base has nobody to ask and cancels.
    virtual QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter);
    // Asks for an existing file to read, starting in the user's home folder
    // and offering files matching `filter`. Returns the chosen path, or an
    // empty string when the user cancelled. The base has nobody to ask and
    // cancels.
    virtual QString pickOpenFile(const QString& caption, const QString& filter);
    // Asks `text` in a confirmation box with one button per choice, in
    // order (the first the default), and Cancel. Answers the index of the
    // choice made; -1 for Cancel or a box closed without a choice. The base
    // has nobody to ask and cancels.
    virtual int choose(const QString& text, const QStringList& choices);

    // The current local date and time. Always TClock::now(), so that stamps,
    // alarm polling and anything asking the services agree on one moment; a
    // scripted clock is installed through TClock's override.
    QDateTime now() const;

    // The operating system's name of the logged-on user, as the system gives it
    // (the caller upper-cases it); empty when the system gives none.
    virtual QString userName() = 0;

    // The workstation's host name, as the change trail and the lock holder
    // notes name it. By default the machine's own.
    virtual QString hostName();

    virtual void beep() = 0;
    // Waits `milliseconds` without processing events.
    virtual void sleep(int milliseconds) = 0;

    // The busy cursor is a stack: it shows while at least one push is not
    // popped. Use TBusyCursor rather than calling these directly.
    virtual void pushBusyCursor() = 0;
    virtual void popBusyCursor() = 0;

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

    // The application's standard error box: `text` (a "\r" is a line break)
    // titled with the application's title, one OK button. Commands that fail
    // end here. By default it is an error message(); the running program shows
    // it under its own title.
    virtual void showApplicationError(const QString& text);
};
