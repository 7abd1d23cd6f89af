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
    IsamUpdateMode = 2,         // an add under a key that exists, or an unknown write mode
    IsamBusy = 3,               // the dataset file stayed busy (another workstation writing) past the timeout
    IsamNotOpen = 4,            // an operation on an object without an open dataset
    IsamBadFormat = 5,          // a format string the engine cannot use
    IsamBadKey = 6,             // a key that is not a decimal number of the dataset's key length
    IsamBadParameter = 7,       // a wrong argument (record size, index number, read mode)
    IsamNotDataset = 8,         // the file is not one of our datasets
    IsamNameInUse = 9,          // the dataset to create exists already
    IsamDiskFull = 11,
    IsamNoMemory = 12,
    IsamSystemCall = 13,        // the operating system refused (missing folder or file, no permission)
    IsamIoError = 14,           // a read or write error
    IsamCorrupt = 15,           // a damaged dataset
    IsamLocked = 19,            // the record is locked by another holder
    IsamAlreadyOpen = 23,       // a dataset is already open on this object
    IsamServerUnreachable = 30, // the database server could not be reached (the first connection failed)
    // The connection to the database server was lost, or could not be made
    // again after it was; the call failed and the next call reconnects.
    IsamServerLost = 31,
};

// Read modes understood by TIsamDataset::get. The scan modes are the callers'
// scan mode plus 0x1002 (TXIsamFile adds it).
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
