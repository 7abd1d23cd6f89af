#include "THolderNotes.h"

#include "HolderNoteRecord.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TTextCapacity.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QStringList>
#include <QThread>

#include <exception>

namespace {

// Keys tried by one note while other workstations note locks too.
constexpr int KeyAttempts = 20;
// Between who holds a lock and since when, in a holder's line.
const QString Since = QStringLiteral(" has had it open since ");

QString targetOf(const TXIsamFile& dataset, const QString& key)
{
    return TChangeTrail::DatasetName(dataset) + QLatin1Char('#') + key;
}

} // namespace

THolderNotes::THolderNotes(TQuorlaDB& database, std::unique_ptr<TXIsamFile> notes)
    : database_(database), notes_(std::move(notes))
{
}

THolderNotes::~THolderNotes() = default;

QString THolderNotes::WithHolder(const QString& message, const QString& holder)
{
    return holder.isEmpty() ? message : message + QLatin1Char('\r') + holder;
}

QString THolderNotes::Who(const QString& holder)
{
    const qsizetype since = holder.lastIndexOf(Since);
    return since < 0 ? holder : holder.left(since);
}

QStringList THolderNotes::notesOf(const QString& target)
{
    QStringList keys;
    HolderNoteRecord note;
    notes_->Range(note.bytes(), HolderNoteRecord::TargetIndex, target, target, [&] {
        keys << notes_->CurrentKey();
        return true;
    });
    return keys;
}

bool THolderNotes::dropIfStale(const QString& key)
{
    if (own_.contains(key) || !notes_->Lock(key))
        return false;
    notes_->Delete(key);
    notes_->Unlock(key);
    return true;
}

QString THolderNotes::Note(const TXIsamFile& dataset, const QString& key)
{
    if (!notes_)
        return QString();
    try {
        const QString target = targetOf(dataset, key);
        // Whoever held this lock before and left a note is gone now.
        for (const QString& old : notesOf(target))
            dropIfStale(old);
        TStamp since;
        HolderNoteRecord note;
        note.set(target, database_.ActingUser(), TTextCapacity::cut(database_.Workstation(), int(HolderNoteRecord::WorkstationWidth) - 1),
                 since.Key());
        for (int attempt = 0; attempt < KeyAttempts; ++attempt) {
            const QString noteKey = notes_->NextKey();
            if (noteKey.isEmpty())
                return QString();
            // The note's lock first: a note is never there without it.
            if (!notes_->Lock(noteKey)) {
                QThread::usleep(200);
                continue;
            }
            if (notes_->NextKey() == noteKey && writer_.insertUnder(*notes_, noteKey, note.bytes())) {
                own_.insert(noteKey);
                return noteKey;
            }
            notes_->Unlock(noteKey);
        }
    } catch (const std::exception&) {
    }
    return QString();
}

void THolderNotes::Remove(const QString& noteKey)
{
    if (!notes_ || !own_.remove(noteKey))
        return;
    // The note goes before its lock, and both before the record's lock.
    notes_->Delete(noteKey);
    notes_->Unlock(noteKey);
}

QString THolderNotes::HolderOf(const TXIsamFile& dataset, const QString& key)
{
    if (!notes_)
        return QString();
    for (const QString& noteKey : notesOf(targetOf(dataset, key))) {
        HolderNoteRecord note;
        if (dropIfStale(noteKey) || !notes_->GetEqual(note.bytes(), TXIsamFile::PrimaryIndex, noteKey))
            continue;
        UserRecord user;
        const QString name = RecordKey::isNone(note.UserKey()) ? QStringLiteral("Somebody not logged in")
            : database_.Users().GetEqual(user.bytes(), TXIsamFile::PrimaryIndex, note.UserKey())
            ? user.FullName()
            : QStringLiteral("User %1").arg(note.UserKey());
        return QStringLiteral("%1 (workstation %2)").arg(name, note.Workstation()) + Since
               + TChangeSummary::TimeOf(note.Since());
    }
    return QString();
}
