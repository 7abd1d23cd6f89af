#pragma once

#include "TDatabaseLocation.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TIsamConnection;
class TXIsamFile;

// Copies a whole Quorla database into an empty one: from a folder to a
// database server, back, or between two of a kind. Every dataset of
// TQuorlaDatasets (an optional one the source lacks is left for the program
// to make) goes across with each record under its own key, byte for
// byte, and with its mark of the largest key ever held, so that the copy never
// hands out a key that the source had freed, and with its identity, so that
// what was exported from the source names the same events in the copy. Then
// both sides are read again
// and compared, dataset by dataset: the number of records, the next key, and
// a checksum (SHA-256) of every key with its record in key order.
//
// Nothing is written to the source. The copy is meant for a database that no
// workstation uses meanwhile. A server's source is read in one snapshot, so
// that its copy is of one moment even while workstations write; on a folder a
// write to the source during the copy shows as a mismatch at the end.
class TDatabaseCopier
{
public:
    // One dataset as read back at the end; the same on both sides after a
    // copy.
    struct Summary
    {
        QString fileName;
        qint64 records = 0;
        QString nextKey;
        QByteArray checksum;
    };

    TDatabaseCopier(TDatabaseLocation from, TDatabaseLocation to);
    ~TDatabaseCopier();
    TDatabaseCopier(const TDatabaseCopier&) = delete;
    TDatabaseCopier& operator=(const TDatabaseCopier&) = delete;

    // Told as work goes on: the dataset, what is being done ("copying",
    // "reading the source", "reading the copy"), records done so far and records in all; every few hundred
    // records and at each dataset's end.
    std::function<void(const QString& dataset, const QString& phase, qint64 done, qint64 total)> OnProgress;

    // Checks both sides, copies, and compares; answers the target's datasets
    // as read back. Throws EQuorla, with the message for the person running
    // the copy, when a side is a refused location (or both are one), the
    // source lacks a dataset (it is no Quorla database), a dataset of the
    // target holds or has held records, an engine call fails, or the copy
    // does not read back as the source. A failure after the first dataset
    // was made leaves nothing of the copy, and the message says so: in a
    // target folder the datasets it wrote go (and the folder when the copy
    // made it); on a server the whole copy is one transaction, undone.
    QList<Summary> Run();

private:
    struct Side;
    class Whole;

    [[noreturn]] void fail(const QString& message) const;
    QList<Summary> copyAll();
    // Removes what the copy wrote into a target folder.
    void discard();
    void checkTarget(Side& side);
    // Creates or opens dataset `index` in the target and copies it across
    // with the four steps below, each failing through fail().
    void copyDataset(int index, Side& source, Side& target);
    // The identity goes across unchanged: what was exported from the source
    // (iCalendar UIDs) must name the same events in the copy.
    void carryIdentity(int index, Side& source, Side& target);
    // The office's settings (zone, working hours) go across too.
    void carrySettings(int index, Side& source, Side& target);
    void copyRecords(int index, Side& source, Side& target, qsizetype recordSize, qint32 total);
    // The target's key mark is raised to the source's largest key ever held.
    void carryKeyMark(int index, Side& source, Side& target, qint32 keyLength);
    // Reads every record of `file` in key order into `summary`.
    bool summarise(TXIsamFile& file, qsizetype recordSize, const QString& phase, Summary& summary);

    TDatabaseLocation from_;
    TDatabaseLocation to_;
    bool written_ = false;
    bool madeFolder_ = false;
    // The target folder's dataset files the copy wrote to.
    QStringList writtenFiles_;
    // By TQuorlaDatasets' order: whether the target had the dataset, empty.
    std::vector<bool> existing_;
};
