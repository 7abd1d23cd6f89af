#include "TScriptedPersonServices.h"

namespace {

using Answer = TPersonServices::MessageAnswer;

// Each set of buttons, by TPersonServices::MessageButtons: its name and the
// answers it offers, the cautious one (that lets the code go on without
// agreeing to anything) last.
const struct
{
    const char* name;
    QList<Answer> answers;
} Buttons[] = {{"Ok", {Answer::Ok}}, {"YesNo", {Answer::Yes, Answer::No}}, {"OkCancel", {Answer::Ok, Answer::Cancel}}};

// What a test's failure calls each picker, by TScriptedPersonServices::Picker.
const char* const PickerNames[] = {"folder picker", "file name question", "file question"};

QString visible(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

} // namespace

TScriptedPersonServices::~TScriptedPersonServices()
{
    failOnLeftovers(takePendingScript());
}

QStringList TScriptedPersonServices::takePendingScript()
{
    QStringList pending;
    for (const ScriptedMessage& m : std::exchange(script_, {}))
        pending << QStringLiteral("%1 \"%2\"%3").arg(messageTitle(m.kind), visible(m.text), m.prefix ? QStringLiteral("...") : QString());
    for (int picker = Folder; picker < Pickers; ++picker)
        for (const QString& answer : std::exchange(pickers_[picker], {}))
            pending << QStringLiteral("%1 \"%2\" (empty: cancel)").arg(QLatin1String(PickerNames[picker]), answer);
    for (const auto& [text, answer] : std::exchange(choices_, {}))
        pending << QStringLiteral("choice %1 of \"%2\"").arg(answer).arg(visible(text));
    return pending;
}

TPersonServices::MessageAnswer TScriptedPersonServices::message(MessageKind kind, MessageButtons buttons, const QString& text)
{
    messages_.append({kind, buttons, text});
    if (!script_.isEmpty()) {
        const ScriptedMessage& next = script_.head();
        const bool textMatches = next.prefix ? text.startsWith(next.text) : text == next.text;
        if (next.kind == kind && textMatches && Buttons[int(buttons)].answers.contains(next.answer))
            return script_.dequeue().answer;
    }
    unexpected_ << QStringLiteral("unexpected message: %1 [%2] \"%3\"")
                       .arg(messageTitle(kind), QLatin1String(Buttons[int(buttons)].name), visible(text));
    return Buttons[int(buttons)].answers.constLast();
}

int TScriptedPersonServices::choose(const QString& text, const QStringList& choices)
{
    if (choices_.isEmpty() || choices_.head().first != text || choices_.head().second >= choices.size()) {
        unexpected_ << QStringLiteral("unexpected choice: \"%1\" (%2)").arg(visible(text), choices.join(QStringLiteral(" / ")));
        return -1;
    }
    return choices_.dequeue().second;
}

QString TScriptedPersonServices::nextAnswer(Picker picker, const QString& caption)
{
    if (!pickers_[picker].isEmpty())
        return pickers_[picker].dequeue();
    unexpected_ << QStringLiteral("unexpected %1: \"%2\"").arg(QLatin1String(PickerNames[picker]), caption);
    return {};
}

void TScriptedPersonServices::popBusyCursor()
{
    if (busyDepth_ == 0) {
        unexpected_ << QStringLiteral("busy cursor popped without a push");
        return;
    }
    --busyDepth_;
}
