#include "TScriptedServices.h"

#include "TClock.h"

#include <QPrinter>
#include <QTest>

namespace {

QString buttonsName(TPersonServices::MessageButtons buttons)
{
    using B = TPersonServices::MessageButtons;
    return buttons == B::Ok ? QStringLiteral("Ok") : buttons == B::YesNo ? QStringLiteral("YesNo") : QStringLiteral("OkCancel");
}

bool offers(TPersonServices::MessageButtons buttons, TPersonServices::MessageAnswer answer)
{
    using B = TPersonServices::MessageButtons;
    using A = TPersonServices::MessageAnswer;
    switch (buttons) {
    case B::Ok:
        return answer == A::Ok;
    case B::YesNo:
        return answer == A::Yes || answer == A::No;
    case B::OkCancel:
        return answer == A::Ok || answer == A::Cancel;
    }
    return false;
}

// The answer that lets the code go on without agreeing to anything.
TPersonServices::MessageAnswer cautious(TPersonServices::MessageButtons buttons)
{
    using B = TPersonServices::MessageButtons;
    using A = TPersonServices::MessageAnswer;
    return buttons == B::YesNo ? A::No : buttons == B::OkCancel ? A::Cancel : A::Ok;
}

// The next scripted answer; an empty one, with `unexpected` noted, when none is left.
QString nextAnswer(QQueue<QString>& script, QStringList& unexpected, const QString& what)
{
    if (!script.isEmpty())
        return script.dequeue();
    unexpected << what;
    return {};
}

QString visible(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

QString describe(TPersonServices::MessageKind kind, TPersonServices::MessageButtons buttons, const QString& text)
{
    return QStringLiteral("%1 [%2] \"%3\"").arg(TPersonServices::messageTitle(kind), buttonsName(buttons), visible(text));
}

} // namespace

namespace {

TScriptedServices* active = nullptr;

TScriptedServices& scripted()
{
    if (active == nullptr)
        qFatal("No scripted services are installed");
    return *active;
}

// Passes each call on to the scripted services installed at that moment.
class TOfTest : public TPersonServices, public TDesktopServices, public TMachineServices
{
public:
    MessageAnswer message(MessageKind k, MessageButtons b, const QString& t) override
    {
        return scripted().message(k, b, t);
    }
    void showApplicationError(const QString& text) override { scripted().showApplicationError(text); }
    int choose(const QString& text, const QStringList& choices) override { return scripted().choose(text, choices); }
    QString pickFolder(const QString& caption) override { return scripted().pickFolder(caption); }
    QString pickSaveFile(const QString& c, const QString& s, const QString& f) override { return scripted().pickSaveFile(c, s, f); }
    QString pickOpenFile(const QString& c, const QString& f) override { return scripted().pickOpenFile(c, f); }
    void pushBusyCursor() override { scripted().pushBusyCursor(); }
    void popBusyCursor() override { scripted().popBusyCursor(); }
    void beep() override { scripted().beep(); }
    QSize screenSize() override { return scripted().screenSize(); }
    ShowState startupShowState() override { return scripted().startupShowState(); }
    HandOffResult mailAvailability() override { return scripted().mailAvailability(); }
    void sendMail(const MailMessage& m, std::function<void(const HandOffResult&)> f) override { scripted().sendMail(m, f); }
    bool choosePrinter(QPrinter& printer) override { return scripted().choosePrinter(printer); }
    HandOffResult showHelp(const QString& f, const QString& t) override { return scripted().showHelp(f, t); }
    quint32 notify(const DesktopNotification& n, std::function<void()> a) override { return scripted().notify(n, a); }
    void withdrawNotification(quint32 handle) override { scripted().withdrawNotification(handle); }
    QString userName() override { return scripted().userName(); }
    QString hostName() override { return scripted().hostName(); }
    void sleep(int milliseconds) override { scripted().sleep(milliseconds); }
};

} // namespace

TScriptedServices::TScriptedServices()
    : previousActive_(std::exchange(active, this))
{
}

TServices TScriptedServices::ofTest()
{
    static TOfTest ofTest;
    return ofTest;
}

TScriptedServices::~TScriptedServices()
{
    if (clockSet_)
        TClock::setOverride({});
    active = previousActive_;

    QStringList problems = takeUnexpected();
    for (const QString& pending : takePendingScript())
        problems << QStringLiteral("scripted but never asked: ") + pending;
    if (!problems.isEmpty())
        QTest::qFail(qPrintable(problems.join(QLatin1String("\n    "))), __FILE__, __LINE__);
}

QStringList TScriptedServices::takeUnexpected()
{
    return std::exchange(unexpected_, {});
}

QStringList TScriptedServices::takePendingScript()
{
    QStringList pending;
    for (const ScriptedMessage& m : std::as_const(script_))
        pending << QStringLiteral("%1 \"%2\"%3").arg(TPersonServices::messageTitle(m.kind), visible(m.text),
                                                    m.prefix ? QStringLiteral("...") : QString());
    for (const QString& folder : std::as_const(folders_))
        pending << QStringLiteral("folder \"%1\"").arg(folder);
    for (const QString& path : std::as_const(saveFiles_))
        pending << QStringLiteral("file name \"%1\" (empty: cancel)").arg(path);
    for (const auto& [text, answer] : std::as_const(choices_))
        pending << QStringLiteral("choice %1 of \"%2\"").arg(answer).arg(visible(text));
    choices_.clear();
    for (const QString& printer : std::as_const(printers_))
        pending << QStringLiteral("print dialog to \"%1\" (empty: cancel)").arg(printer);
    script_.clear();
    folders_.clear();
    saveFiles_.clear();
    printers_.clear();
    return pending;
}

void TScriptedServices::setNow(const QDateTime& moment)
{
    clockSet_ = true;
    TClock::setOverride([moment] { return moment; });
}

TPersonServices::MessageAnswer TScriptedServices::message(MessageKind kind, MessageButtons buttons, const QString& text)
{
    messages_.append({kind, buttons, text});
    if (!script_.isEmpty()) {
        const ScriptedMessage& next = script_.head();
        const bool textMatches = next.prefix ? text.startsWith(next.text) : text == next.text;
        if (next.kind == kind && textMatches && offers(buttons, next.answer))
            return script_.dequeue().answer;
    }
    unexpected_ << QStringLiteral("unexpected message: ") + describe(kind, buttons, text);
    return cautious(buttons);
}

QString TScriptedServices::pickFolder(const QString& caption)
{
    return nextAnswer(folders_, unexpected_, QStringLiteral("unexpected folder picker: \"%1\"").arg(caption));
}

int TScriptedServices::choose(const QString& text, const QStringList& choices)
{
    if (choices_.isEmpty() || choices_.head().first != text || choices_.head().second >= choices.size()) {
        unexpected_ << QStringLiteral("unexpected choice: \"%1\" (%2)").arg(visible(text), choices.join(QStringLiteral(" / ")));
        return -1;
    }
    return choices_.dequeue().second;
}

QString TScriptedServices::pickSaveFile(const QString& caption, const QString&, const QString&)
{
    return nextAnswer(saveFiles_, unexpected_, QStringLiteral("unexpected file name question: \"%1\"").arg(caption));
}

QString TScriptedServices::pickOpenFile(const QString& caption, const QString&)
{
    return nextAnswer(openFiles_, unexpected_, QStringLiteral("unexpected file question: \"%1\"").arg(caption));
}

void TScriptedServices::sleep(int milliseconds)
{
    ++sleepCalls_;
    slept_ += milliseconds;
}

void TScriptedServices::popBusyCursor()
{
    if (busyDepth_ == 0) {
        unexpected_ << QStringLiteral("busy cursor popped without a push");
        return;
    }
    --busyDepth_;
}

void TScriptedServices::sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished)
{
    mails_.append(mail);
    if (finished)
        finished(handOff_);
}

bool TScriptedServices::choosePrinter(QPrinter& printer)
{
    if (printers_.isEmpty()) {
        unexpected_ << QStringLiteral("unexpected print dialog");
        return false;
    }
    const QString pdfFile = printers_.dequeue();
    if (pdfFile.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfFile);
    return true;
}

TDesktopServices::HandOffResult TScriptedServices::showHelp(const QString& /*helpFile*/, const QString& /*topic*/)
{
    return handOff_;
}

quint32 TScriptedServices::notify(const DesktopNotification& note, std::function<void()> onActivated)
{
    notifications_.append({note, std::move(onActivated), false});
    return quint32(notifications_.size());
}

void TScriptedServices::withdrawNotification(quint32 handle)
{
    if (handle == 0 || handle > quint32(notifications_.size())) {
        unexpected_ << QStringLiteral("withdrawn a notification never shown: %1").arg(handle);
        return;
    }
    notifications_[int(handle) - 1].withdrawn = true;
}

bool TScriptedServices::activateNotification(int index)
{
    const Notification& shown = notifications_.at(index);
    if (shown.withdrawn || !shown.onActivated)
        return false;
    // A copy: the action may withdraw its own notification.
    const std::function<void()> action = shown.onActivated;
    action();
    return true;
}
