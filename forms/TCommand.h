#pragma once

#include <functional>

class QAction;
class QString;
class TPersonServices;

// The one road by which the program's commands run. Whatever a command throws
// ends that command only: the message is shown in the application's standard
// error box (titled "Quorla"), shown through the person's services handed in,
// and control goes back to the event loop, so no exception ever crosses it.
// Work the command did before the error stays done. The text handed to the
// error box is EQuorla::MessageOf the error; the person's services decide
// what of it is shown (the main window's tell each outage of the database
// once: TOutageScreen).
class TCommand
{
public:
    TCommand() = delete;

    // Runs `command`. True when it ran to its end, false when it threw (after
    // the error box was shown).
    static bool Run(TPersonServices& person, const std::function<void()>& command) noexcept;

    // Makes `action` run `command` through Run() whenever it is triggered;
    // `person` must outlive the action.
    static void Bind(QAction* action, TPersonServices& person, std::function<void()> command);
};
