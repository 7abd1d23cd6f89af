#pragma once

#include "TServices.h"

#include <QDateTime>
#include <QList>
#include <QQueue>
#include <QSize>
#include <QString>
#include <QStringList>

// The services of a test: nothing is shown, nothing waits, and every question
// the code asks is answered from a script that the test writes beforehand.
//
// Constructing one installs it as the one that ofTest() passes calls to;
// destroying it puts the previously installed one back and removes any clock
// it set.
//
// Messages: each shown message is recorded (kind, buttons, text) and compared
// with the head of the script. A message that matches is answered with the
// scripted answer. Anything else - no script left, a different kind or text, or
// a scripted answer that is not one of the box's buttons - is an unexpected
// message: it is answered with the cautious answer (Cancel, No, or Ok for a
// plain box), so the code under test takes its "user declined" road, and it is
// kept in unexpected(). The same goes for a folder picker nobody scripted.
//
// The test fails when the object is destroyed with unexpected events or with
// scripted answers that nobody asked for. Failing at the end rather than in the
// middle keeps the code under test running on its normal road (a failure inside
// a callback cannot stop the caller anyway) and reports everything at once; a
// test that wants to check such events itself takes them with takeUnexpected()
// and takePendingScript().
class TScriptedServices : public TPersonServices, public TDesktopServices, public TMachineServices
{
public:
    struct Message
    {
        MessageKind kind;
        MessageButtons buttons;
        QString text;
    };

    // A notification handed to notify(), as the desktop's service would have
    // shown it.
    struct Notification
    {
        DesktopNotification note;
        std::function<void()> onActivated;
        bool withdrawn = false;
    };

    TScriptedServices();
    ~TScriptedServices() override;

    // Services for what a test builds, that pass every call on to the
    // scripted services installed at the moment of the call (the newest one
    // alive), so that a database made before a test's scripted services, or
    // outliving them, asks whichever the test has then. A call while none is
    // installed ends the process, as a program that hands in none would.
    static TServices ofTest();

    // Scripts the next message: its kind and exact text, and the answer to give.
    void expectMessage(MessageKind kind, const QString& text, MessageAnswer answer)
    {
        script_.enqueue({kind, text, false, answer});
    }
    // As expectMessage, for a message whose text begins with `prefix` (for texts
    // that end in an engine's error text or a changing value).
    void expectMessageStartingWith(MessageKind kind, const QString& prefix, MessageAnswer answer)
    {
        script_.enqueue({kind, prefix, true, answer});
    }
    // Scripts the next folder picker's answer; an empty folder is a cancel.
    void expectFolder(const QString& folder) { folders_.enqueue(folder); }
    // The next file-name question is answered with `path` (empty: cancelled).
    void expectSaveFile(const QString& path) { saveFiles_.enqueue(path); }
    // The answer to the next question for a file to read (empty: cancel).
    void expectOpenFile(const QString& path) { openFiles_.enqueue(path); }
    // The next choice question (choose()) must ask `text`; it is answered
    // with the choice `answer` (-1: Cancel).
    void expectChoice(const QString& text, int answer) { choices_.enqueue({text, answer}); }
    // Scripts the next print dialog's answer: print to the PDF file `pdfFile`,
    // or cancel when it is empty.
    void expectPrinter(const QString& pdfFile) { printers_.enqueue(pdfFile); }

    // Every message shown, in order, expected or not.
    const QList<Message>& messages() const { return messages_; }

    // Descriptions of the unexpected events so far; taking them clears them.
    QStringList takeUnexpected();
    // Descriptions of scripted answers not yet used; taking them clears them.
    QStringList takePendingScript();

    // Stands the clock (TClock and so now()) at `moment` until changed again.
    void setNow(const QDateTime& moment);

    void setUserName(const QString& name) { userName_ = name; }
    void setHostName(const QString& name) { hostName_ = name; }
    // How sendMail ends and what showHelp answers (NotAvailable at first);
    // mailAvailability answers Done unless set.
    void setHandOffResult(const HandOffResult& result) { handOff_ = result; }
    void setMailAvailability(const HandOffResult& result) { mailAvailability_ = result; }

    int beeps() const { return beeps_; }
    int sleepCalls() const { return sleepCalls_; }
    // Sum of all sleep() requests, in milliseconds; nothing really waits.
    qint64 sleptMilliseconds() const { return slept_; }
    // Pushes not yet popped; popping below zero counts as unexpected.
    int busyDepth() const { return busyDepth_; }
    const QList<MailMessage>& mails() const { return mails_; }
    // Every notification, in order; handles are 1, 2, ... by position.
    const QList<Notification>& notifications() const { return notifications_; }
    // Clicks notification `index` as the person would on the desktop: runs its
    // action unless it was withdrawn. False when it was.
    bool activateNotification(int index);

    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    QString pickFolder(const QString& caption) override;
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override;
    QString pickOpenFile(const QString& caption, const QString& filter) override;
    int choose(const QString& text, const QStringList& choices) override;
    QString userName() override { return userName_; }
    QString hostName() override { return hostName_; }
    void beep() override { ++beeps_; }
    void sleep(int milliseconds) override;
    void pushBusyCursor() override { ++busyDepth_; }
    void popBusyCursor() override;
    QSize screenSize() override { return {1280, 1024}; }
    ShowState startupShowState() override { return ShowState::Normal; }
    HandOffResult mailAvailability() override { return mailAvailability_; }
    // Records the message and tells `finished` at once.
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override;
    bool choosePrinter(QPrinter& printer) override;
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override;
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override;
    void withdrawNotification(quint32 handle) override;

private:
    struct ScriptedMessage
    {
        MessageKind kind;
        QString text;
        bool prefix;
        MessageAnswer answer;
    };

    TScriptedServices* previousActive_;
    bool clockSet_ = false;
    QQueue<ScriptedMessage> script_;
    QQueue<QString> folders_;
    QQueue<QString> saveFiles_;
    QQueue<QString> openFiles_;
    QQueue<std::pair<QString, int>> choices_;
    QList<Message> messages_;
    QStringList unexpected_;
    QString userName_;
    QString hostName_ = QStringLiteral("ws-test");
    HandOffResult handOff_;
    HandOffResult mailAvailability_{Outcome::Done, {}};
    int beeps_ = 0;
    int sleepCalls_ = 0;
    qint64 slept_ = 0;
    int busyDepth_ = 0;
    QList<MailMessage> mails_;
    QQueue<QString> printers_;
    QList<Notification> notifications_;
};
