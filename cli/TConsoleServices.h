#pragma once

#include "TServices.h"

// The services of a command-line tool: no person at a screen, so a message
// goes to standard error ("Warning: ...", line breaks as new lines) and is
// answered the cautious way (No, Cancel, OK); nothing is picked, shown,
// printed or mailed; sleeps sleep.
class TConsoleServices : public TServices
{
public:
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    QString pickFolder(const QString& caption) override;
    QString userName() override;
    void beep() override {}
    void sleep(int milliseconds) override;
    void pushBusyCursor() override {}
    void popBusyCursor() override {}
    QSize screenSize() override;
    ShowState startupShowState() override;
    bool choosePrinter(QPrinter& printer) override;
    HandOffResult showHelp(const QString& helpFile, const QString& topic) override;
};
