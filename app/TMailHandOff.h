#pragma once

#include "TServices.h"

// Hands a message to the desktop's mail program through xdg-email, which opens
// the program's compose window with recipients, subject and body filled in, so
// the user reviews the message and sends it from there. Recipients go over as
// the display names they are; the mail program's address book resolves them.
class TMailHandOff
{
public:
    TMailHandOff() = delete;

    // How long xdg-email may take to start and to hand the message over.
    static constexpr int StartMilliseconds = 5000;
    static constexpr int FinishMilliseconds = 30000;

    // Done when xdg-email ran and exited with 0. NotAvailable when it cannot be
    // started (not installed). Failed, with a readable reason, when it crashed,
    // took too long (it is then killed) or exited with any other code (no mail
    // program, a refused address, ...). The body lines are joined with CR LF.
    static TServices::HandOffResult Send(const TServices::MailMessage& mail);
};
