#include "BenchServices.h"

#include <QtGlobal>

#include <utility>

namespace {

std::optional<TServices> installed;

const TServices& now()
{
    if (!installed)
        qFatal("A benchmark asked for services while none were installed");
    return *installed;
}

// Passes each call on to the services installed at that moment.
class TRunning : public TPersonServices, public TDesktopServices, public TMachineServices
{
public:
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override
    {
        return now().person().message(kind, buttons, text);
    }
    void showApplicationError(const QString& text) override { now().person().showApplicationError(text); }
    int choose(const QString& text, const QStringList& choices) override { return now().person().choose(text, choices); }
    QString pickFolder(const QString& caption) override { return now().person().pickFolder(caption); }
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override
    {
        return now().person().pickSaveFile(caption, suggested, filter);
    }
    QString pickOpenFile(const QString& caption, const QString& filter) override
    {
        return now().person().pickOpenFile(caption, filter);
    }
    void pushBusyCursor() override { now().person().pushBusyCursor(); }
    void popBusyCursor() override { now().person().popBusyCursor(); }
    void beep() override { now().desktop().beep(); }
    QSize screenSize() override { return now().desktop().screenSize(); }
    ShowState startupShowState() override { return now().desktop().startupShowState(); }
    HandOffResult mailAvailability() override { return now().desktop().mailAvailability(); }
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override
    {
        now().desktop().sendMail(mail, std::move(finished));
    }
    bool choosePrinter(QPrinter& printer) override { return now().desktop().choosePrinter(printer); }
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override
    {
        return now().desktop().showHelp(helpFile, topic);
    }
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override
    {
        return now().desktop().notify(note, std::move(onActivated));
    }
    void withdrawNotification(quint32 handle) override { now().desktop().withdrawNotification(handle); }
    QString userName() override { return now().machine().userName(); }
    QString hostName() override { return now().machine().hostName(); }
    void sleep(int milliseconds) override { now().machine().sleep(milliseconds); }
};

} // namespace

TServices BenchServices::running()
{
    static TRunning running;
    return running;
}

std::optional<TServices> BenchServices::install(std::optional<TServices> services)
{
    return std::exchange(installed, services);
}
