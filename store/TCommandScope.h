#pragma once

#include "FolderPause.h"
#include "IsamCode.h"

#include <memory>

class TIsamConnection;
class TQuorlaDB;

// One command of the store's writers as a whole: on a database server every
// write made through `database` while the scope lives - the records, their
// alarms, the change trail's record, the lock holder notes - stays together
// or not at all. A writer opens one around its command, after taking the
// record locks it needs, so that the locks are released only after the
// commit. Scopes nest; only the outermost one commits.
//
// Leaving the scope normally commits; leaving it by an exception undoes the
// writes. A commit that fails throws EQuorla; when the connection was lost
// while the commit was on its way, nobody can say whether the change stayed,
// and the message says so (LostWhileSaving). On a folder each write stands
// alone, as it always has; the scope only holds the folder's pause
// (FolderPause), so that a backup takes the datasets between commands.
//
// A scope held in an object whose destruction may not throw (std::optional,
// a container) must be ended with Commit() or Undo() before it goes.
class TCommandScope
{
public:
    explicit TCommandScope(TQuorlaDB& database);
    ~TCommandScope() noexcept(false);
    TCommandScope(const TCommandScope&) = delete;
    TCommandScope& operator=(const TCommandScope&) = delete;

    // Ends the scope now, committing (and throwing as the scope's end
    // would); the scope's end then does nothing.
    void Commit();
    // Ends the scope now, undoing its writes (a refused step that spoilt
    // the command); the scope's end then does nothing.
    void Undo();

    // The message of a commit whose answer was lost.
    static const char* const LostWhileSaving;

private:
    // Throws for a commit that failed with `code`.
    [[noreturn]] static void finish(TIsamConnection& connection, IsamCode code);

    std::shared_ptr<TIsamConnection> connection_;
    std::unique_ptr<FolderPause::Hold> pause_;
    int exceptions_;
};
