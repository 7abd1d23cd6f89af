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
// folder (so the instance lock is this case's own) and, unless `withRootPath`
// is false, a recorded empty database folder, which is returned.
QString freshWorkstation(bool withRootPath = true);

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
