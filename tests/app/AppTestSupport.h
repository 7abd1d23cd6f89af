#pragma once

#include "DialogTest.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

class QWidget;
class TQuorlaDB;
class TfrmMain;

namespace AppTest {

using DialogTest::Answer;
using DialogTest::Kind;
using DialogTest::whenModal;

// Answers each alarm pop-up in turn with the next of `answers`: "close" (the
// close box), "esc", "enter", "off", or the index of a snooze item ("3" is
// "1 hour") chosen before Snooze is pressed; appends each pop-up's description
// to `seen`. A pop-up beyond the answers is recorded with a leading "!" and
// switched off. Answers while the returned timer lives.
std::unique_ptr<QTimer> answerPopups(QStringList answers, QStringList& seen);

// Types a name and a password into the open login dialog and presses OK.
void typeLogin(QWidget* dialog, const QString& name, const QString& password);

// A clean workstation for one test case: no settings, a private temporary
// folder (so the instance lock is this case's own) and `location` recorded as
// its database (without one, a new empty folder); answers the location.
QString freshWorkstation(const QString& location = QString());

// The key of that wall-clock moment, and the day of a key.
QString keyOf(int year, int month, int day, int hour = 0, int minute = 0);
QDate dayOf(const QString& key);

// Add records straight through the data store: an entry (returning its
// key), and `user`'s alarm at `time` for `entry`.
QString addEntry(TQuorlaDB& db, const QString& start, const QString& owner, const QStringList& assignees,
                 qint32 flags = 0, const QString& description = QString());
void addAlarm(TQuorlaDB& db, const QString& time, const QString& user, const QString& entry);

// Adds a user straight through the data store; returns its key.
QString addUser(TQuorlaDB& db, const QString& name, const QString& password, qint32 rights);

// The main window with its dialogs, as the program entry builds it.
struct Shell
{
    explicit Shell(TServices services = TScriptedServices::ofTest());
    ~Shell();
    TfrmMain* main;
};

// Shows the main window and starts it as the program does, logging in as
// `name` (blank password); the alarm poll then runs only when a test asks.
void logIn(Shell& shell, const QString& name);

} // namespace AppTest
