#include "BenchServices.h"

#include <QtGlobal>

#include <utility>

namespace {

std::optional<TServices> installed;

const TServices& installedServices()
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
        return installedServices().person().message(kind, buttons, text);
    }
    void showApplicationError(const QString& text) override { installedServices().person().showApplicationError(text); }
    int choose(const QString& text, const QStringList& choices) override { return installedServices().person().choose(text, choices); }
    QString pickFolder(const QString& caption) override { return installedServices().person().pickFolder(caption); }
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override
    {
        return installedServices().person().pickSaveFile(caption, suggested, filter);
    }
    QString pickOpenFile(const QString& caption, const QString& filter) override
    {
        return installedServices().person().pickOpenFile(caption, filter);
    }
    void pushBusyCursor() override { installedServices().person().pushBusyCursor(); }
    void popBusyCursor() override { installedServices().person().popBusyCursor(); }
    void beep() override { installedServices().desktop().beep(); }
    QSize screenSize() override { return installedServices().desktop().screenSize(); }
    ShowState startupShowState() override { return installedServices().desktop().startupShowState(); }
    HandOffResult mailAvailability() override { return installedServices().desktop().mailAvailability(); }
    void sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished) override
    {
        installedServices().desktop().sendMail(mail, std::move(finished));
    }
    bool choosePrinter(QPrinter& printer) override { return installedServices().desktop().choosePrinter(printer); }
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override
    {
        return installedServices().desktop().showHelp(helpFile, topic);
    }
    quint32 notify(const DesktopNotification& note, std::function<void()> onActivated) override
    {
        return installedServices().desktop().notify(note, std::move(onActivated));
    }
    void withdrawNotification(quint32 handle) override { installedServices().desktop().withdrawNotification(handle); }
    QString userName() override { return installedServices().machine().userName(); }
    QString hostName() override { return installedServices().machine().hostName(); }
    void sleep(int milliseconds) override { installedServices().machine().sleep(milliseconds); }
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
