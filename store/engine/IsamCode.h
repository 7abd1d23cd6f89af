#pragma once

// Result codes of the dataset engine. 0 is success; every other value has a
// fixed message (TXIsamFile::ErrorText). Codes that callers may meet:
//   1 no such record (failed look-up, end of a scan, update/delete of a missing key)
//   2 an add under a key that exists, or an unknown write mode
//   3 the dataset file stayed busy (another workstation writing) past the timeout
//   4 operation on an object without an open dataset
//   5 a format string the engine cannot use
//   6 a key that is not a decimal number of the dataset's key length
//   7 a wrong argument (record size, index number, read mode)
//   8 the file is not one of our datasets
//   9 the dataset to create exists already
//  11 disk full
//  12 out of memory
//  13 the operating system refused (missing folder or file, no permission)
//  14 read or write error
//  15 damaged dataset
//  19 the record is locked by another holder
//  23 a dataset is already open on this object
//  30 the database server could not be reached (the first connection failed)
//  31 the connection to the database server was lost, or could not be made
//     again after it was; the call failed and the next call reconnects
enum IsamCode : short {
    IsamOk = 0,
    IsamNotFound = 1,
    IsamUpdateMode = 2,
    IsamBusy = 3,
    IsamNotOpen = 4,
    IsamBadFormat = 5,
    IsamBadKey = 6,
    IsamBadParameter = 7,
    IsamNotDataset = 8,
    IsamNameInUse = 9,
    IsamDiskFull = 11,
    IsamNoMemory = 12,
    IsamSystemCall = 13,
    IsamIoError = 14,
    IsamCorrupt = 15,
    IsamLocked = 19,
    IsamAlreadyOpen = 23,
    IsamServerUnreachable = 30,
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
// (3). A dataset that only looks on - the change trail, the lock holder
// notes - may add IsamOpenUnsynced: its writes return as soon as the
// operating system has them, without waiting for the disk, so a killed
// process loses none of them but a power cut may lose the last ones. Engines
// whose writes cost no such wait ignore it.
enum IsamOpenMode : int {
    IsamOpenShared = 3,
    IsamOpenUnsynced = 0x100,
};
