#pragma once

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
    void WantCategoryDescription(QObject* sender, const QString& pk, QString& description);

private:
    TSession& session_;
};
