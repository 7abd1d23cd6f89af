#pragma once

#include "TEntryDetails.h"

#include <QByteArray>
#include <QHash>
#include <QMultiMap>
#include <QString>
#include <QStringList>

class DetailRecord;
class TXIsamFile;

// The heads of the details dataset (DetailRecord) held in memory for one
// database connection, so that a view reads the details of a day's or a
// week's entries without one index look-up per entry.
//
// The heads held are only used while they are those stored: Current()
// compares the dataset's change mark (TXIsamFile::ChangeMark) with the one
// they were read under, so a write by anyone, this workstation or another,
// makes them stale. Stale heads are read again in full, but only once the
// look-ups made without them since they went stale have come to a tenth of
// what they hold: in a busy office a reader keeps paying per look-up what
// it paid before, never a full read for every write of others, and a reader
// that reads much pays one full read now and then.
class TDetailHeads
{
public:
    // The details a head keeps (no notes) and how many notes' parts it has.
    struct THead
    {
        TEntryDetails details;
        qint32 parts = 0;
        QString reach;
    };

    // Whether the heads held are those stored in `details` now, reading them
    // first when that is due; `asking` is how many owners the caller is about
    // to look up (counted towards the next full read when they are not
    // current). False when the mark cannot be had. A failed read throws
    // EQuorlaDB with the dataset's error text, and leaves none held.
    bool Current(TXIsamFile& details, qsizetype asking);

    // The head of `owner` (DetailRecord::owner), or null when it keeps none.
    // Only meaningful after Current() answered true.
    const THead* Find(const QString& owner) const;
    // The owners whose head's Reach lies from `from` to `to`, both day keys,
    // both included.
    QStringList ReachingFrom(const QString& from, const QString& to) const;

private:
    void read(TXIsamFile& details);
    void take(const DetailRecord& head);

    QHash<QString, THead> heads_;
    QMultiMap<QString, QString> byReach_;
    // One text for each place read, shared by every head naming it.
    QHash<QString, QString> places_;
    const TXIsamFile* readFrom_ = nullptr;
    QByteArray mark_;
    bool held_ = false;
    qsizetype owed_ = 0;
};
