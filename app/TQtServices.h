#pragma once

#include "TServices.h"

#include <memory>

class TDesktopNotifier;
class THelpViewer;

// The services of the running program, on Qt Widgets. Create it after the
// application object and install it with TServices::setCurrent.
class TQtServices : public TServices
{
public:
    TQtServices();
    ~TQtServices() override;

    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    QString pickFolder(const QString& caption) override;
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override;
    QString userName() override;
    void beep() override;
    void sleep(int milliseconds) override;
    void pushBusyCursor() override;
    void popBusyCursor() override;
    QSize screenSize() override;
    ShowState startupShowState() override;
    HandOffResult sendMail(const MailMessage& mail, bool showDialog) override;
    bool choosePrinter(QPrinter& printer) override;
    // Opens the help window (created on first use, then reused) at `topic`.
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override;
    // A critical box titled with the application's name ("Quorla").
    void showApplicationError(const QString& text) override;
    // Through the desktop's notification service on the session bus
    // (TDesktopNotifier), connected on first use.
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override;
    void withdrawNotification(quint32 handle) override;

private:
    std::unique_ptr<THelpViewer> help_;
    std::unique_ptr<TDesktopNotifier> notifier_;
};
