#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// Whether the database server is out of reach, as the program's own calls
// find it, and since when. An outage begins with the first error that says
// the server cannot be reached or the connection was lost, and ends with the
// first call that works again (the 10-second alarm poll's, at the latest).
//
// One message per outage: the first error of an outage is shown (its first
// line as the store words it, the server's reason below it, control
// characters gone, and a last line saying that the program tries again by
// itself), and every later one of the same outage is not; other errors are
// shown as they come. A commit whose answer was lost is shown always, and
// counts as the outage's message.
class TOutageWatch
{
public:
    // Whether `message`, an error's text, tells of the server out of reach.
    static bool IsOutage(const QString& message);
    // `message` without control characters but the line breaks (carriage
    // returns), as a box shows it.
    static QString Clean(const QString& message);

    // An error met by a command: the text to show, or empty when nothing is
    // to be shown (this outage was told already).
    QString Screen(const QString& message);
    // A call to the database worked: an outage ends. True when one did.
    bool Reached();

    bool Away() const { return since_.isValid(); }
    // When the outage began; invalid when there is none.
    const QDateTime& Since() const { return since_; }
    // The line the main window shows during an outage; empty otherwise.
    QString Line() const;
    // The short answer to what the person asks for while an outage he was
    // told of lasts: nothing of it was done, and why; empty without one.
    QString Still() const;

    // Told when an outage begins or ends.
    std::function<void()> OnChange;

private:
    QDateTime since_;
};
