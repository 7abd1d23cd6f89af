#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QWidget;
class TQuorlaDB;
class TfrmDate;
class TfrmLogin;
class TfrmMain;

namespace AppTest {

// Runs `act` on the modal dialog as soon as one is open (polling from the event
// loop), once.
void answerModal(std::function<void(QWidget*)> act);

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
    Shell();
    ~Shell();
    TfrmMain* main;
    TfrmLogin* login;
    TfrmDate* date;
};

} // namespace AppTest
