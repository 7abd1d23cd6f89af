#pragma once

#include "TServices.h"

#include <QStringList>

// The services of a workstation without a person: every message is kept (and
// answered Ok/Yes), nothing is shown, sleeps and the busy cursor do nothing.
class TStressServices : public TServices
{
public:
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    QString pickFolder(const QString& caption) override;
    QString userName() override;
    QString hostName() override { return host; }
    void beep() override {}
    void sleep(int) override {}
    void pushBusyCursor() override {}
    void popBusyCursor() override {}
    QSize screenSize() override;
    ShowState startupShowState() override;
    bool choosePrinter(QPrinter& printer) override;
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override;
    void showApplicationError(const QString& text) override;

    QStringList messages;
    // The workstation's name in the change trail and the holder notes: the
    // worker's log name, so that the checker knows whose they are.
    QString host = QStringLiteral("stress");
};
