#pragma once

#include <functional>

// Runs one command of a dialog from the event loop: an error it raises ends
// the command, is shown to the user in an error box carrying its message, and
// the dialog goes on. Nothing thrown ever reaches the event loop.
class TDialogCommand
{
public:
    TDialogCommand() = delete;

    // True when the command ran to its end, false when it raised an error.
    static bool Run(const std::function<void()>& command);
};
