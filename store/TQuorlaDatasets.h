#pragma once

#include <QList>
#include <QString>

// The datasets every Quorla database holds, with the format each is created
// with, in the order the program opens them. What must treat a database as a
// whole (copying it to another engine) goes by this list, so a new dataset is
// one more line here.
//
// The change trail, the repeating events (series and their links), the
// import map, the entries' details, the bin of deleted ones and the resources with their bookings are
// optional: a database works without them, and one that never met a program
// with them has none. The lock holder notes are not
// listed: they stand for locks held at the moment, which no copy carries.
class TQuorlaDatasets
{
public:
    struct Dataset
    {
        QString fileName;  // "QLUsers.Ism": the file, or the name on a server
        QString format;    // the record layout (TIsamFormat)
        bool optional = false;
    };

    static const QList<Dataset>& All();

    // The key length of every dataset.
    static constexpr int KeyLength = 10;
};
