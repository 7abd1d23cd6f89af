#pragma once

#include "IsamCode.h"

#include <QString>

#include <memory>

class TIsamConnection;
class TIsamDataset;

// A dataset engine: creates and opens datasets by name. There are two, chosen
// by the name (forName): a name on a server (TDatabaseLocation::NamesServer,
// a libpq connection URI) is a table of that PostgreSQL database, anything
// else a file of a folder; TDatabaseLocation::DatasetName makes the names.
// TXIsamFile is the only caller.
//
// Datasets may be opened through a connection (connect) that they then share;
// `connection` may be null, and the engine then makes one of its own for the
// call (and, for open, for the dataset).
class TIsamEngine
{
public:
    virtual ~TIsamEngine() = default;

    // A connection for datasets of the database at `location` (a folder, a
    // server URI, or the name of one of its datasets) to share; null when the
    // engine has nothing to share. Makes no contact yet: the first call
    // through it connects, and a failure to connect is that call's result.
    virtual std::shared_ptr<TIsamConnection> connect(const QString& location);

    // Creates an empty dataset `name` with primary keys of `keyLength` digits
    // and records laid out by `format`; does not open it. Fails with
    // IsamNameInUse when it exists (nothing is overwritten; also when another
    // workstation created it a moment before), IsamBadFormat for a format it
    // cannot use.
    virtual IsamCode create(const QString& name, int keyLength, const QString& format,
                            const std::shared_ptr<TIsamConnection>& connection) = 0;

    // IsamOk when dataset `name` exists, IsamNotFound when it does not, any
    // other code when that cannot be told.
    virtual IsamCode exists(const QString& name, const std::shared_ptr<TIsamConnection>& connection) = 0;

    // Opens dataset `name` for shared reading and writing; any number of
    // objects, in this or other processes, may hold it open at once.
    virtual IsamCode open(const QString& name, IsamOpenMode mode, const std::shared_ptr<TIsamConnection>& connection,
                          std::unique_ptr<TIsamDataset>& dataset) = 0;

    // The engine for the dataset or location `name`, or the replacement.
    static TIsamEngine& forName(const QString& name);

    // Replaces the engine for every name; nullptr restores the choice by name.
    // The caller keeps ownership and must outlive every dataset opened
    // through it.
    static void setInstance(TIsamEngine* engine);
};
