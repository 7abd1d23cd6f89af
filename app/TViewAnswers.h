#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <utility>

class QObject;
class TDayEntries;
class TSession;
class TViewNavigator;

// The answers to the views' "want" events: the day's entries the user may
// see, user abbreviations, category texts and alarm marks, read from the
// session's database and caches. Nothing is answered - every answer left as
// the view passed it - until a user is logged in, so that no view shows any
// of the calendar behind the log-in dialog.
//
// While the database cannot be read (a server out of reach), the views keep
// what they last read: a day's entries, names, alarm marks and category texts as the last
// read that worked gave them; the failure itself is reported as a command's
// (TCommand, which tells an outage once).
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
    // Runs `read`; when it fails, `fallBack` gets its chance to answer from
    // what was read before, and the failure is reported.
    template <typename Read, typename FallBack>
    void readOrKeep(Read read, FallBack fallBack);

    TSession& session_;
    // What the last reads that worked gave, by day key and by record key.
    QHash<QString, QList<std::pair<QByteArray, QString>>> days_;
    QHash<QString, QString> names_;
    QHash<QString, bool> alarms_;
    QHash<QString, QString> categories_;
};
