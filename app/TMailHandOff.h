#pragma once

#include "TDesktopServices.h"

#include <functional>

// Hands a message to the desktop's mail program through xdg-email, which opens
// the program's compose window with recipients, subject and body filled in, so
// the person reviews the message and sends it from there. Recipients go over
// as the display names they are; the mail program's address book resolves
// them. What the person does in the compose window - send or cancel - is the
// mail program's business and cannot be seen from here.
class TMailHandOff
{
public:
    TMailHandOff() = delete;

    // Done when xdg-email is installed and a mail program stands behind it
    // (one set in $MAILER, or the desktop's handler of mailto: links);
    // NotAvailable with the reason otherwise. Asks xdg-mime, which answers at
    // once; one that does not within a few seconds counts as none.
    static TDesktopServices::HandOffResult Availability();

    // Starts xdg-email and returns at once. `finished` is called from the
    // event loop when it ends: Done when it exited with 0; NotAvailable when
    // it cannot be started; Failed, with a readable reason, when it crashed or
    // exited with any other code (no mail program, a refused address, ...).
    // The body lines are joined with CR LF.
    static void Send(const TDesktopServices::MailMessage& mail, std::function<void(const TDesktopServices::HandOffResult&)> finished);

    // The reason a hand-off that exited with `code` failed.
    static QString ExitReason(int code);
};
