#pragma once

#include <QString>

class QListWidget;
class QListWidgetItem;
class TXIsamFile;

// The user lists of the dialogs: one entry per user with the user's FullName as
// text and the user's RecordKey as an integer beside it, kept in name order
// (case ignored; equal names in key order). A check-list's entries are ticked
// or not, never in a third state.
class TUserCheckList
{
public:
    TUserCheckList() = delete;

    // Empties `list` and adds every record of `users` read from the start of
    // index 0 until a read fails. With `checkable` each entry gets a tick box,
    // unticked.
    static void Fill(QListWidget& list, TXIsamFile& users, bool checkable = true);

    // Adds `item` before the first entry whose text sorts after its own.
    static void InsertSorted(QListWidget& list, QListWidgetItem* item);

    // The integer beside an entry, and as a RecordKey text.
    static qint64 Value(const QListWidgetItem& item);
    static QString Key(const QListWidgetItem& item);

    static bool Ticked(const QListWidgetItem& item);
    static int TickedCount(const QListWidget& list);
};
