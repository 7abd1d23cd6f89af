#pragma once

#include <QList>
#include <QString>

// The datasets every Quorla database holds, with the format each is created
// with, in the order the program opens them. What must treat a database as a
// whole (copying it to another engine) goes by this list, so a new dataset is
// one more line here.
class TQuorlaDatasets
{
public:
    struct Dataset
    {
        QString fileName;  // "QLUsers.Ism": the file, or the name on a server
        QString format;    // the record layout (TIsamFormat)
    };

    static const QList<Dataset>& All();

    // The key length of every dataset.
    static constexpr int KeyLength = 10;
};
