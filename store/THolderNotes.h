#pragma once

#include "TRecordWriter.h"

#include <QSet>
#include <QString>

#include <memory>

class TQuorlaDB;
class TXIsamFile;

// The notes of who holds a record lock for editing, so that a workstation
// refused the lock can say who has the record open. A holder notes the lock
// right after taking it and removes the note just before releasing it; the
// note carries its own record lock, held by the note's writer for as long as
// the note stands. So a note whose lock anybody can take belongs to a holder
// that is gone (killed, crashed): such a note is never shown, and whoever
// meets it removes it.
//
// Notes describe; they never decide. Every failure to write, read or remove
// one is ignored (the lock itself is what protects the record), and a
// database without the notes dataset simply names nobody.
class THolderNotes
{
public:
    // `notes` is the open notes dataset, or null when there is none.
    THolderNotes(TQuorlaDB& database, std::unique_ptr<TXIsamFile> notes);
    ~THolderNotes();
    THolderNotes(const THolderNotes&) = delete;
    THolderNotes& operator=(const THolderNotes&) = delete;

    bool Available() const { return notes_ != nullptr; }

    // Notes that this database object's acting user, on this workstation, has
    // just taken the lock of `key` in `dataset`; removes stale notes of that
    // lock. Answers the note's key for Remove, or empty when none was written.
    QString Note(const TXIsamFile& dataset, const QString& key);
    // Removes a note written by Note.
    void Remove(const QString& noteKey);

    // For a lock of `key` in `dataset` that was just refused: "<full name>
    // (workstation <host>) has had it open since <hh:mm>" from the holder's
    // live note (a user no longer there is "User <key>"), or empty when
    // there is none. Stale notes met are removed.
    QString HolderOf(const TXIsamFile& dataset, const QString& key);

    // `message` with the holder's line below it, when there is one.
    static QString WithHolder(const QString& message, const QString& holder);
    // Who a holder's line (HolderOf) names: "<full name> (workstation
    // <host>)", without since when.
    static QString Who(const QString& holder);

private:
    // The keys of every note of the lock `target`, live or not.
    QStringList notesOf(const QString& target);
    // Removes the note `key` when its lock can be taken (its holder is gone);
    // answers whether it was stale.
    bool dropIfStale(const QString& key);

    TQuorlaDB& database_;
    std::unique_ptr<TXIsamFile> notes_;
    // The notes this object wrote and holds.
    QSet<QString> own_;
    TRecordWriter writer_;
};
