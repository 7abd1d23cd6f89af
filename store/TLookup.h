#pragma once

#include <QString>

#include <functional>
#include <span>

#include "TXIsamFile.h"

// Reads for the store's record rules, where only "no such record" (or the end
// of a scan) may mean "nothing there": any other failure - a busy file, a read
// error, a lost server - throws EQuorla with the dataset's error text, so that
// a fault is never taken for a missing record and acted on (an alarm deleted
// because its entry could not be read, a scan ended early and reported done).
class TLookup
{
public:
    TLookup() = delete;

    // GetEqual: true with the record in `record`; false when no record has
    // that index value (the position then stands where it would be).
    static bool Equal(TXIsamFile& dataset, std::span<char> record, qint16 index, const QString& key);

    // Get in a scan mode: true with the next record; false at the end of the
    // scan (the condition failed or the index ended).
    static bool Next(TXIsamFile& dataset, std::span<char> record, qint16 index, const QString& key,
                     TXIsamFile::ScanMode mode);

    // Every record of the dataset in key order, read into `record`, with
    // `take` called after each with its key (the lists of users and
    // categories). Moves the dataset's position.
    static void Each(TXIsamFile& dataset, std::span<char> record, const std::function<void(const QString& key)>& take);
};
