#pragma once

#include <QSet>
#include <QString>

class QObject;
class TDayEntries;
class TSession;
class TViewNavigator;

// The answers to the views' "want" events: the day's entries the user may
// see, user abbreviations, category texts and alarm marks, read from the
// session's database and caches. Nothing is answered - every answer left as
// the view passed it - until a user is logged in, so that no view shows any
// of the calendar behind the log-in dialog.
class TViewAnswers
{
public:
    explicit TViewAnswers(TSession& session);

    // Wires the day, week and month views' events to the answers below, and
    // their drawing failures to the application's error box.
    void Wire(TViewNavigator& views);

    void WantDayEntries(QObject* sender, const QString& datePkVal, TDayEntries& dayEntries);
    void WantUserName(QObject* sender, const QString& pk, QString& name);
    void WantAlarmedFlag(QObject* sender, const QString& pk, bool& alarmed);
    // From the series links: one range read of the link dataset's entry-key
    // index covers every entry the views listed since the last read (a week
    // of entries for the week view), instead of one read per entry painted.
    void WantRepeatingFlag(QObject* sender, const QString& pk, bool& repeating);
    void WantCategoryDescription(QObject* sender, const QString& pk, QString& description);

    // How many range reads WantRepeatingFlag made (the cost the views pay
    // for the mark).
    int RepeatReads() const { return repeatReads_; }

private:
    TSession& session_;
    // Entry keys listed since the last read of the links.
    QSet<QString> listed_;
    // The entry keys the last read covered, and those of them that are
    // occurrences.
    QString readFrom_;
    QString readTo_;
    bool read_ = false;
    QSet<QString> repeating_;
    int repeatReads_ = 0;
};
