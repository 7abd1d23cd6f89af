#pragma once

#include "TEntryDetails.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class DayEntryRecord;
class DetailRecord;
class TQuorlaDB;

// Reads the details of entries and of series' templates (TEntryDetails). A
// database that has no details dataset, or an entry that has none stored,
// answers empty details: an entry written by a workstation that knows only the
// day entries is what it always was. An occurrence of a series with no details
// of its own answers its template's.
//
// Any failed read other than "none stored" throws EQuorlaDB with the
// dataset's error text.
class TDetailsStore
{
public:
    explicit TDetailsStore(TQuorlaDB& database);

    // The details of entry `entryKey`.
    TEntryDetails Entry(const QString& entryKey);
    // The details of series `seriesKey`'s template.
    TEntryDetails Series(const QString& seriesKey);
    // The details of each of `entryKeys` that has any (the others are left
    // out), for a view about to paint them. With `withNotes` false the notes
    // are left empty, which spares reading long ones.
    QHash<QString, TEntryDetails> Entries(const QStringList& entryKeys, bool withNotes = false);
    // The keys of the entries that start before `first` and reach into
    // `first`..`last` (un-timed over several days, or timed past midnight):
    // what a view of those days shows besides the entries that start in them.
    QStringList ReachingInto(const QDate& first, const QDate& last);

private:
    // Every record of `owner` (head first, then its parts), none when it
    // keeps none.
    QList<DetailRecord> recordsOf(const QString& owner);
    // The heads of `owners` by owner.
    QHash<QString, DetailRecord> heads(const QStringList& owners);
    // The series of each of `entryKeys` that is an occurrence, by entry.
    QHash<QString, QString> seriesOf(const QStringList& entryKeys);
    // Of `entryKeys`, the day entries stored, by key.
    QHash<QString, DayEntryRecord> entries(const QStringList& entryKeys);
    // The occurrences of series `seriesKey` on the `span` days before `first`.
    QStringList occurrencesBefore(const QString& seriesKey, const QDate& first, int span);

    TQuorlaDB& database_;
};
