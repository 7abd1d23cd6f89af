#pragma once

#include "TPersonServices.h"
#include "TScriptedPart.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

// The person of a test: nothing is shown, and every question the code asks
// is answered from a script that the test writes beforehand.
//
// Messages: each shown message is recorded (kind, buttons, text) and compared
// with the head of the script. A message that matches is answered with the
// scripted answer. Anything else - no script left, a different kind or text, or
// a scripted answer that is not one of the box's buttons - is an unexpected
// message: it is answered with the cautious answer (Cancel, No, or Ok for a
// plain box), so the code under test takes its "user declined" road, and it is
// kept in unexpected(). The same goes for a picker or a choice nobody scripted.
//
// The test fails when the object is destroyed with unexpected events or with
// scripted answers that nobody asked for. Failing at the end rather than in the
// middle keeps the code under test running on its normal road (a failure inside
// a callback cannot stop the caller anyway) and reports everything at once; a
// test that wants to check such events itself takes them with takeUnexpected()
// and takePendingScript().
//
// The newest one alive (TScriptedPart) answers TScriptedServices::ofTest()'s
// person.
class TScriptedPersonServices : public TPersonServices, public TScriptedPart<TScriptedPersonServices>
{
public:
    struct Message
    {
        MessageKind kind;
        MessageButtons buttons;
        QString text;
    };

    ~TScriptedPersonServices() override;

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
    void expectFolder(const QString& folder) { pickers_[Folder].enqueue(folder); }
    // The next file-name question is answered with `path` (empty: cancelled).
    void expectSaveFile(const QString& path) { pickers_[SaveFile].enqueue(path); }
    // The answer to the next question for a file to read (empty: cancel).
    void expectOpenFile(const QString& path) { pickers_[OpenFile].enqueue(path); }
    // The next choice question (choose()) must ask `text`; it is answered
    // with the choice `answer` (-1: Cancel).
    void expectChoice(const QString& text, int answer) { choices_.enqueue({text, answer}); }

    // Every message shown, in order, expected or not.
    const QList<Message>& messages() const { return messages_; }
    // Pushes not yet popped; popping below zero counts as unexpected.
    int busyDepth() const { return busyDepth_; }

    // Descriptions of scripted answers not yet used; taking them clears them.
    QStringList takePendingScript();

    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    int choose(const QString& text, const QStringList& choices) override;
    QString pickFolder(const QString& caption) override { return nextAnswer(Folder, caption); }
    QString pickSaveFile(const QString& caption, const QString&, const QString&) override
    {
        return nextAnswer(SaveFile, caption);
    }
    QString pickOpenFile(const QString& caption, const QString&) override { return nextAnswer(OpenFile, caption); }
    void pushBusyCursor() override { ++busyDepth_; }
    void popBusyCursor() override;

private:
    struct ScriptedMessage
    {
        MessageKind kind;
        QString text;
        bool prefix;
        MessageAnswer answer;
    };

    // The pickers whose answers are scripted, each its own queue.
    enum Picker { Folder, SaveFile, OpenFile, Pickers };
    // The next scripted answer of `picker`; empty, and unexpected, when none
    // is left.
    QString nextAnswer(Picker picker, const QString& caption);

    QQueue<ScriptedMessage> script_;
    QQueue<QString> pickers_[Pickers];
    QQueue<std::pair<QString, int>> choices_;
    QList<Message> messages_;
    int busyDepth_ = 0;
};
