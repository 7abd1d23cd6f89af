#pragma once

#include "TDesktopServices.h"
#include "TScriptedPart.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

// The desktop of a test: nothing is shown or sent, hand-offs end as the test
// sets them, the print dialog answers from a script, and mails and
// notifications are kept for the test to look at. As with the scripted person
// (TScriptedPersonServices), the test fails when the object is destroyed with
// unexpected events (a print dialog nobody scripted, a notification withdrawn
// that was never shown) or with print dialogs scripted that nobody opened.
// The newest one alive (TScriptedPart) answers TScriptedServices::ofTest()'s
// desktop.
class TScriptedDesktopServices : public TDesktopServices, public TScriptedPart<TScriptedDesktopServices>
{
public:
    // A notification handed to notify(), as the desktop's service would have
    // shown it.
    struct Notification
    {
        DesktopNotification note;
        std::function<void()> onActivated;
        bool withdrawn = false;
    };

    ~TScriptedDesktopServices() override;

    // Scripts the next print dialog's answer: print to the PDF file `pdfFile`,
    // or cancel when it is empty.
    void expectPrinter(const QString& pdfFile) { printers_.enqueue(pdfFile); }
    // How sendMail ends and what showHelp answers (NotAvailable at first);
    // mailAvailability answers Done unless set.
    void setHandOffResult(const HandOffResult& result) { handOff_ = result; }
    void setMailAvailability(const HandOffResult& result) { mailAvailability_ = result; }

    // Descriptions of scripted answers not yet used; taking them clears them.
    QStringList takePendingScript();

    int beeps() const { return beeps_; }
    const QList<MailMessage>& mails() const { return mails_; }
    // Every notification, in order; handles are 1, 2, ... by position.
    const QList<Notification>& notifications() const { return notifications_; }
    // Clicks notification `index` as the person would on the desktop: runs its
    // action unless it was withdrawn. False when it was.
    bool activateNotification(int index);

    void beep() override { ++beeps_; }
    QSize screenSize() override { return {1280, 1024}; }
    ShowState startupShowState() override { return ShowState::Normal; }
    HandOffResult mailAvailability() override { return mailAvailability_; }
    // Records the message and tells `finished` at once.
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override;
    bool choosePrinter(QPrinter& printer) override;
    HandOffResult showHelp(const QString&, const QString&) override { return handOff_; }
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override;
    void withdrawNotification(quint32 handle) override;

private:
    QQueue<QString> printers_;
    HandOffResult handOff_;
    HandOffResult mailAvailability_{Outcome::Done, {}};
    int beeps_ = 0;
    QList<MailMessage> mails_;
    QList<Notification> notifications_;
};
