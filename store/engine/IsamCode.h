#pragma once

// Result codes of the dataset engine: every operation of an engine answers
// one, and TXIsamFile keeps it as LastError(). Each has a fixed message
// (TXIsamFile::ErrorText); the numbers are the engine contract's and do not
// change. The codes callers may meet:
enum IsamCode : short {
    IsamOk = 0,
    // No such record: a failed look-up, the end of a scan, an update or delete
    // of a missing key.
    IsamNotFound = 1,
    // An add under a key that exists, or an unknown write mode.
    IsamUpdateMode = 2,
    // The dataset file stayed busy (another workstation writing) past the
    // timeout.
    IsamBusy = 3,
    // An operation on an object without an open dataset.
    IsamNotOpen = 4,
    // A format string the engine cannot use.
    IsamBadFormat = 5,
    // A key that is not a decimal number of the dataset's key length.
    IsamBadKey = 6,
    // A wrong argument (record size, index number, read mode).
    IsamBadParameter = 7,
    // The file is not one of our datasets.
    IsamNotDataset = 8,
    // The dataset to create exists already.
    IsamNameInUse = 9,
    IsamDiskFull = 11,
    IsamNoMemory = 12,
    // The operating system refused (missing folder or file, no permission).
    IsamSystemCall = 13,
    // A read or write error.
    IsamIoError = 14,
    // A damaged dataset.
    IsamCorrupt = 15,
    // The record is locked by another holder.
    IsamLocked = 19,
    // A dataset is already open on this object.
    IsamAlreadyOpen = 23,
    // The database server could not be reached (the first connection failed).
    IsamServerUnreachable = 30,
    // The connection to the database server was lost, or could not be made
    // again after it was; the call failed and the next call reconnects.
    IsamServerLost = 31,
};

// Read modes understood by TIsamDataset::get. The scan modes are those of
// TXIsamFile::ScanMode, mapped by TXIsamFile::ReadModeOf.
enum IsamReadMode : int {
    IsamReadEqual = 0x1011,      // the record whose index value equals the key
    IsamReadNext = 0x1012,       // next record in index order
    IsamReadPrefix = 0x1042,     // next record while its index value begins with the key
    IsamReadBelow = 0x1102,      // next record while its index value is below the key
    IsamReadAtMost = 0x1402,     // next record while its index value is at most the key
};

// Write modes of TIsamDataset::put.
enum IsamPutMode : int {
    IsamPutAdd = 1,      // add under a key that must not exist yet
    IsamPutReplace = 2,  // replace the record stored under the key
    IsamPutRemove = 3,   // in a batch only: remove the record under the key
    IsamPutClear = 4,    // in a batch only: remove the records of an index value
};

// Open modes. The program opens every dataset shared for reading and writing
// (IsamOpenShared). A dataset that only looks on - the change trail, the lock holder
// notes - may add IsamOpenUnsynced: its writes return as soon as the
// operating system has them, without waiting for the disk, so a killed
// process loses none of them but a power cut may lose the last ones. Engines
// whose writes cost no such wait ignore it.
enum IsamOpenMode : int {
    IsamOpenShared = 3,
    IsamOpenUnsynced = 0x100,
};

constexpr IsamOpenMode operator|(IsamOpenMode a, IsamOpenMode b)
{
    return IsamOpenMode(int(a) | int(b));
}
