#pragma once

#include <QString>

#include <memory>

class TIsamDataset;

// A dataset engine: creates and opens dataset files. The program has one engine
// for the whole process (instance()); TXIsamFile is its only caller.
class TIsamEngine
{
public:
    virtual ~TIsamEngine() = default;

    // Creates an empty dataset file at `fileName` with primary keys of
    // `keyLength` digits and records laid out by `format`; does not open it.
    // Fails with IsamNameInUse when the file exists (nothing is overwritten),
    // IsamBadFormat for a format it cannot use.
    virtual int create(const QString& fileName, int keyLength, const QString& format) = 0;

    // Opens the dataset at `fileName` for shared reading and writing; any number
    // of objects, in this or other processes, may hold it open at once.
    virtual int open(const QString& fileName, int mode, std::unique_ptr<TIsamDataset>& dataset) = 0;

    // The process-wide engine (the SQLite one unless replaced).
    static TIsamEngine& instance();

    // Replaces the process-wide engine; nullptr restores the default. The caller
    // keeps ownership and must outlive every dataset opened through it.
    static void setInstance(TIsamEngine* engine);
};
