#pragma once

#include "TPersonServices.h"

// The person of a command-line tool, who is at no screen: a message goes to
// standard error ("Warning: ...", line breaks as new lines) and is answered
// the cautious way (No, Cancel, OK); nothing is picked or chosen.
class TConsolePersonServices : public TPersonServices
{
public:
    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override;
};
