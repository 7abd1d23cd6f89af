#pragma once

class TQuorlaDB;

// Makes sure no new record takes a key that something still refers to.
//
// Each dataset keeps a mark of the largest key it ever held, so that a key
// freed by a delete never comes back. Datasets written before there was such a
// mark have none, and records may still point at keys they no longer hold: an
// alarm whose entry was deleted, an entry naming a user or a category that
// went. Without a mark the next key is one more than the largest stored one,
// and a new record could take such a key: the old alarm would then ring for
// the new event. So a dataset without a mark gets one here, at least the
// largest key it holds and the largest key any other record refers to.
//
// A mark made by an earlier build started from the largest key stored at that
// moment, below alarms whose entries were already gone. The alarms, the only
// records that outlive what they point at in normal work, are checked against
// the day entries' mark at every connect; that costs one look-up on the
// alarms' entry index.
class TKeyMarks
{
public:
    TKeyMarks() = delete;

    // Raises the marks of `database`'s users, categories and day entries as
    // above; a mark already high enough stays as it is, and nothing is
    // written then. Throws EQuorlaDB with the dataset's error text when a
    // dataset cannot be read or its mark not raised.
    static void Seed(TQuorlaDB& database);
};
