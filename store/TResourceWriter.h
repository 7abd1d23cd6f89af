#pragma once

#include "TRecordWriter.h"
#include "TResourceStore.h"

#include <QString>

#include <functional>

class TQuorlaDB;

// The record rules of the resources dialog, without the dialog: adding a
// resource (names are unique), changing one under its record lock, and
// deleting one, which takes its bookings along (the events that booked it
// stay, without it). Each change goes in the trail. Any failure other than
// those answered raises EQuorla with the dataset's error text.
class TResourceWriter
{
public:
    enum class Result {
        Done,
        NameTaken,
        // Another holder has the resource's lock (a booking of it being
        // made, or another administrator): nothing written.
        Locked,
        Gone,
    };

    explicit TResourceWriter(TQuorlaDB& database);

    // Told of every write (observers only).
    std::function<void(const TRecordWriter::TWrite&)>& OnWrite;

    // Adds `resource` (its key ignored) under the next key, set in
    // `resource.key` on Done.
    Result Add(TResourceStore::TResource& resource);
    // Rewrites the resource under `resource.key`; a kind Unset keeps the
    // kind stored.
    Result Change(const TResourceStore::TResource& resource);
    // Deletes the resource and every booking of it.
    Result Delete(const QString& key);

private:
    // Whether another resource than `key` is named `name`.
    bool taken(const QString& name, const QString& key);

    TQuorlaDB& database_;
    TRecordWriter writer_;
};
