#include "TScriptedServices.h"

namespace {

// Passes each call on to the scripted part of its kind installed at that
// moment. The error box is the base's: an error message().
class TOfTest : public TPersonServices, public TDesktopServices, public TMachineServices
{
    using Person = TScriptedPersonServices;
    using Desktop = TScriptedDesktopServices;
    using Machine = TScriptedMachineServices;

public:
    MessageAnswer message(MessageKind k, MessageButtons b, const QString& t) override { return Person::newest().message(k, b, t); }
    int choose(const QString& text, const QStringList& choices) override { return Person::newest().choose(text, choices); }
    QString pickFolder(const QString& caption) override { return Person::newest().pickFolder(caption); }
    QString pickSaveFile(const QString& c, const QString& s, const QString& f) override { return Person::newest().pickSaveFile(c, s, f); }
    QString pickOpenFile(const QString& c, const QString& f) override { return Person::newest().pickOpenFile(c, f); }
    void pushBusyCursor() override { Person::newest().pushBusyCursor(); }
    void popBusyCursor() override { Person::newest().popBusyCursor(); }
    void withdrawApplicationError() override { Person::newest().withdrawApplicationError(); }
    void beep() override { Desktop::newest().beep(); }
    QSize screenSize() override { return Desktop::newest().screenSize(); }
    ShowState startupShowState() override { return Desktop::newest().startupShowState(); }
    HandOffResult mailAvailability() override { return Desktop::newest().mailAvailability(); }
    void sendMail(const MailMessage& m, std::function<void(const HandOffResult&)> f) override { Desktop::newest().sendMail(m, f); }
    bool choosePrinter(QPrinter& printer) override { return Desktop::newest().choosePrinter(printer); }
    HandOffResult showHelp(const QString& f, const QString& t) override { return Desktop::newest().showHelp(f, t); }
    quint32 notify(const DesktopNotification& n, std::function<void()> a) override { return Desktop::newest().notify(n, a); }
    void withdrawNotification(quint32 handle) override { Desktop::newest().withdrawNotification(handle); }
    QString userName() override { return Machine::newest().userName(); }
    QString hostName() override { return Machine::newest().hostName(); }
    void sleep(int milliseconds) override { Machine::newest().sleep(milliseconds); }
};

} // namespace

TServices TScriptedServices::ofTest()
{
    static TOfTest ofTest;
    return ofTest;
}

QStringList TScriptedServices::takeUnexpected()
{
    return TScriptedPersonServices::takeUnexpected() + TScriptedDesktopServices::takeUnexpected()
         + TScriptedMachineServices::takeUnexpected();
}

QStringList TScriptedServices::takePendingScript()
{
    return TScriptedPersonServices::takePendingScript() + TScriptedDesktopServices::takePendingScript();
}
