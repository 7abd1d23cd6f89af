#pragma once

// Helpers of the administration tests: a database in a fresh folder, records
// written and read straight through the datasets, and driving a modal dialog.

#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace AdminTest {

// A database in a new folder; without a name, another connection to the last one.
inline std::unique_ptr<TQuorlaDB> database(const QString& freshFolder = QString())
{
    return freshFolder.isEmpty() ? std::make_unique<TQuorlaDB>() : DialogTest::database(freshFolder, {});
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

template <class Widget>
Widget* find(QWidget& dialog, const char* name) { return dialog.findChild<Widget*>(QString::fromLatin1(name)); }

inline void click(QWidget& dialog, const char* name)
{
    auto* button = dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    QVERIFY2(button, name);
    button->click();
}

// Runs `script` on the modal dialog of type Dialog once it is shown.
template <class Dialog>
void whenModal(std::function<void(Dialog&)> script)
{
    QTimer::singleShot(0, [script] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        script(*dialog);
    });
}

// Executes `dialog`, runs `script` on it and then presses Close unless the script closed it.
template <class Dialog, class... Args>
int run(Dialog& dialog, std::function<void(Dialog&)> script, Args&&... args)
{
    whenModal<Dialog>([script](Dialog& d) {
        script(d);
        if (d.isVisible())
            click(d, "actClose");
    });
    return dialog.Execute(std::forward<Args>(args)...);
}

} // namespace AdminTest
