#pragma once

#include <QString>
#include <QStringList>

// What the program asks of the person at the workstation: message boxes,
// choices, the folder and file pickers, the busy cursor and the application's
// error box. The desktop program shows them in windows, a command-line tool
// writes them to standard error and answers the cautious way, a test answers
// from its script. Whoever needs to ask is handed one; nothing finds it alone.
class TPersonServices
{
public:
    enum class MessageKind { Information, Warning, Error, Confirmation };
    enum class MessageButtons { Ok, YesNo, OkCancel };
    enum class MessageAnswer { Ok, Cancel, Yes, No };

    TPersonServices() = default;
    virtual ~TPersonServices();
    TPersonServices(const TPersonServices&) = delete;
    TPersonServices& operator=(const TPersonServices&) = delete;

    // The title of a message box of `kind`: "Information", "Warning", "Error"
    // or "Confirm".
    static QString messageTitle(MessageKind kind);

    // Shows a modal message box titled messageTitle(kind). A "\r" in `text` is a
    // line break. Returns the button chosen; closing the box without a choice
    // answers Cancel (OkCancel), No (YesNo) or Ok (Ok).
    virtual MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) = 0;

    // The application's standard error box: `text` (a "\r" is a line break)
    // titled with the application's title, one OK button. Commands that fail
    // end here. By default it is an error message(); the running program shows
    // it under its own title.
    virtual void showApplicationError(const QString& text);
    // Closes the application's error box on show now, if any, as its OK
    // would: what it told of is over (a database back within reach). The
    // base shows no box that stays, and has none to close.
    virtual void withdrawApplicationError() {}

    // Asks `text` in a confirmation box with one button per choice, in
    // order (the first the default), and Cancel. Answers the index of the
    // choice made; -1 for Cancel or a box closed without a choice. The base
    // has nobody to ask and cancels.
    virtual int choose(const QString& text, const QStringList& choices);

    // Asks for a folder, starting in the user's home folder; the user may create
    // a new folder from the picker. Returns the chosen folder, or an empty
    // string when the user cancelled. The base has nobody to ask and cancels.
    virtual QString pickFolder(const QString& caption);
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

    // The busy cursor is a stack: it shows while at least one push is not
    // popped. Use TBusyCursor rather than calling these directly. The base
    // has no cursor to show.
    virtual void pushBusyCursor() {}
    virtual void popBusyCursor() {}
};
