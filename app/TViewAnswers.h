#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

class QObject;
class TDayEntries;
class TQuorlaDB;
class TSession;
class TViewNavigator;

// The answers to the views' "want" events: the day's entries the user may
// see, user abbreviations, category texts and alarm marks, read from the
// session's database and caches. Nothing is answered - every answer left as
// the view passed it - until a user is logged in, so that no view shows any
// of the calendar behind the log-in dialog.
//
// Alarm marks are asked for every painted line: they are answered from the
// keys of all entries that have an alarm, read in one range read and read
// again only when the alarms changed (their change mark, looked at with each
// day's entries). A mark is as fresh as the entries it stands beside, and
// painting reads nothing.
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
    void WantCategoryDescription(QObject* sender, const QString& pk, QString& description);

private:
    // Reads the alarmed entries again when the alarms changed since the last
    // read, or the session's database is another one.
    void refreshAlarmMarks();

    TSession& session_;
    QSet<QString> alarmed_;
    // The alarms' change mark and database at the last read; none before it,
    // or when the mark could not be had.
    QByteArray alarmsMark_;
    const TQuorlaDB* alarmsOf_ = nullptr;
};
