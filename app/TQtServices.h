#pragma once

#include "TDesktopServices.h"
#include "TMachineServices.h"
#include "TPersonServices.h"

#include <QMessageBox>
#include <QPointer>

#include <memory>

class TDesktopNotifier;
class QWidget;
class THelpViewer;

// The person, the desktop and the machine of the running program, on Qt
// Widgets. Create it after the application object.
class TQtServices : public TPersonServices, public TDesktopServices, public TMachineServices
{
public:
    TQtServices();
    ~TQtServices() override;
    TQtServices(const TQtServices&) = delete;
    TQtServices& operator=(const TQtServices&) = delete;

    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    QString pickFolder(const QString& caption) override;
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override;
    QString pickOpenFile(const QString& caption, const QString& filter) override;
    int choose(const QString& text, const QStringList& choices) override;
    QString userName() override;
    void beep() override;
    void sleep(int milliseconds) override;
    void pushBusyCursor() override;
    void popBusyCursor() override;
    QSize screenSize() override;
    ShowState startupShowState() override;
    // Through xdg-email (TMailHandOff); a mail program once found is taken to
    // stay, one missing is looked for again at the next question.
    HandOffResult mailAvailability() override;
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override;
    bool choosePrinter(QPrinter& printer) override;
    // Opens the help window (created on first use, then reused) at `topic`.
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override;
    // A critical box titled with the application's name ("Quorla").
    void showApplicationError(const QString& text) override;
    // Closes the innermost such box still on show.
    void withdrawApplicationError() override;
    // Through the desktop's notification service on the session bus
    // (TDesktopNotifier), connected on first use.
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override;
    void withdrawNotification(quint32 handle) override;

    // The window a message box or dialog belongs to, so that it shows over
    // the program: the modal dialog or the active window when there is one,
    // otherwise the main window or another window on show; none while every
    // window is hidden (in the notification area), when the box stands alone.
    // Closing a box never ends the program (TfrmMain).
    static QWidget* dialogParent();

private:
    std::unique_ptr<THelpViewer> help_;
    bool mailFound_ = false;
    std::unique_ptr<TDesktopNotifier> notifier_;
    // The application's error box on show, the innermost when boxes nest.
    QPointer<QMessageBox> errorBox_;
};
