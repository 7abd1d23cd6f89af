#pragma once

#include "TMachineServices.h"
#include "TPersonServices.h"

#include <QStringList>

// The person and the machine of a workstation without a person: every
// message is kept (and answered Ok/Yes), nothing is shown, sleeps and the
// busy cursor do nothing. It has no desktop.
class TStressServices : public TPersonServices, public TMachineServices
{
public:
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
    void showApplicationError(const QString& text) override;
    QString userName() override;
    QString hostName() override { return host; }
    void sleep(int) override {}

    QStringList messages;
    // The workstation's name in the change trail and the holder notes: the
    // worker's log name, so that the checker knows whose they are.
    QString host = QStringLiteral("stress");
};
