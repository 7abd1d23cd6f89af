#pragma once

#include "TMachineServices.h"

// The machine as a command-line tool sees it: the user from the environment
// ($USER, else $LOGNAME), the machine's own host name, and sleeps that sleep.
class TConsoleMachineServices : public TMachineServices
{
public:
    QString userName() override;
    void sleep(int milliseconds) override;
};
