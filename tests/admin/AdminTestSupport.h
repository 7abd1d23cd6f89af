#pragma once

// Helpers of the administration tests: a database in a fresh folder, records
// written and read straight through the datasets, and driving a modal dialog.

#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QPushButton>

#include <functional>
#include <memory>

namespace AdminTest {

using DialogTest::Answer;
using DialogTest::child;
using DialogTest::click;
using DialogTest::Kind;

// A database in a new folder; without a name, another connection to the last one.
inline std::unique_ptr<TQuorlaDB> database(const QString& freshFolder = QString())
{
    return freshFolder.isEmpty() ? std::make_unique<TQuorlaDB>(TScriptedServices::ofTest()) : DialogTest::database(freshFolder, {});
}

inline void addUsers(TQuorlaDB& db, const QStringList& names)
{
    for (const QString& name : names) {
        UserRecord u;
        u.setUserName(name);
        u.setFullName(name + QStringLiteral(" Full"));
        u.setAbbreviation(name.left(2));
        db.Users().Insert(u.bytes());
    }
}

inline QString addEntry(TQuorlaDB& db, int owner, const QList<int>& assignees, int category = 0)
{
    DayEntryRecord e;
    db.InitDayEntryRecord(e);
    e.setOwnerKey(RecordKey::format(owner));
    e.setCategoryKey(RecordKey::format(category));
    for (int i = 0; i < assignees.size(); ++i)
        e.setAssignee(i, RecordKey::format(assignees[i]));
    db.DayEntries().Insert(e.bytes());
    return db.DayEntries().CurrentKey();
}

template <class Record>
Record read(TXIsamFile& dataset, const QString& key)
{
    Record r;
    dataset.GetEqual(r.bytes(), 0, key);
    return r;
}

// The stored bytes of a record, empty when there is none.
template <class Record>
QByteArray stored(TXIsamFile& dataset, const QString& key)
{
    Record r = read<Record>(dataset, key);
    return dataset.LastError() ? QByteArray() : QByteArray(r.bytes().data(), qsizetype(r.bytes().size()));
}

// Executes `dialog`, runs `script` on it and then presses Close unless the script closed it.
template <class Dialog, class... Args>
int run(Dialog& dialog, std::function<void(Dialog&)> script, Args&&... args)
{
    DialogTest::whenModal([script](QWidget* modal) {
        auto* d = qobject_cast<Dialog*>(modal);
        QVERIFY(d);
        script(*d);
        if (d->isVisible())
            DialogTest::click(d, "actClose");
    });
    return dialog.Execute(std::forward<Args>(args)...);
}

} // namespace AdminTest
