#pragma once

#include "IsamCode.h"

#include <QString>

// What the datasets of one database object share with each other. For a
// database server it is one server session, so that a workstation holds one
// session per database object however many datasets it opens; for a folder
// there is nothing to share and engines hand out none (TIsamEngine::connect).
//
// A connection is owned jointly by whoever hands it out and every dataset
// opened through it (std::shared_ptr), and used from one thread.
class TIsamConnection
{
public:
    virtual ~TIsamConnection() = default;

    // The server's own words for the failure of the last call made through
    // this connection, for the user to read beside the result code's message;
    // empty when that call succeeded, or failed for a reason the code says
    // in full (a missing record, a key in use, a lock held elsewhere).
    const QString& reason() const { return reason_; }

    // Ends the server session when nothing was sent through it for `idleMs`
    // and it holds no record lock and no transaction: an idle workstation
    // then keeps no session on the server, and the next call connects again
    // as after a loss. Nothing to do for a folder.
    virtual void releaseIfIdle(int idleMs) { (void)idleMs; }

    // One command's writes as a whole (TCommandScope). beginCommand opens
    // it; endCommand(true) makes every write since then stay, or none, and
    // endCommand(false) undoes them. They nest: only the outermost pair
    // counts. endCommand answers the result code of the command as a whole:
    // a failure met inside it, or of the commit itself (then
    // commitAnswerLost() tells whether the answer to the commit was lost, so
    // that the writes may or may not have stayed). Where writes stand alone
    // (a folder) there is nothing to do.
    virtual void beginCommand() {}
    virtual IsamCode endCommand(bool commit)
    {
        (void)commit;
        return IsamOk;
    }
    virtual bool commitAnswerLost() const { return false; }
    // As beginCommand, for a copy into an empty database: every write until
    // endCommand, the datasets made included, stays or goes as one, so that
    // a copy that fails anywhere (a session lost too) leaves the database
    // as it was. Takes no row of the catalog, which may not be there yet.
    virtual IsamCode beginCopy() { return IsamOk; }

    // Reads through this connection see the whole database as at one moment,
    // whatever others write meanwhile, until endSnapshot(); nothing may be
    // written through it in between (a copy's source).
    virtual IsamCode beginSnapshot() { return IsamOk; }
    virtual IsamCode endSnapshot() { return IsamOk; }

protected:
    QString reason_;
};
