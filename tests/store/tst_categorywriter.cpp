// Deleting a category while another workstation edits the entries that carry
// it: the deletion works only on entries as they are under their locks, so no
// edit is lost, every alarm stays on its own entry, and an entry of another
// category is left as it was.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TCategoryWriter.h"
#include "TEventWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedServices.h"
#include "TestChild.h"
#include "TestDatabase.h"

#include <QFile>
#include <QHash>

#include <optional>

class tst_CategoryWriter : public QObject
{
    Q_OBJECT

private slots:
    void racingEdits()
    {
        TScriptedServices services;
        const auto database = TestDatabase::database(QStringLiteral("race"), {});
        TQuorlaDB& db = *database;
        CategoryRecord category;
        const QString meeting = TCategoryWriter(db).addCategory(QStringLiteral("Meeting"), category);
        constexpr int Entries = 8;
        QStringList keys;
        for (int n = 0; n < Entries; ++n) {
            DayEntryRecord e = TestDatabase::entry(QStringLiteral("start"));
            e.setCategoryKey(meeting);
            AlarmRecord none;
            keys << TEventWriter(db).insertEntryWithAlarms(e, none);
        }
        // An entry of another category, which the deletion leaves as it is.
        DayEntryRecord travel = TestDatabase::entry(QString());
        travel.setCategoryKey(TCategoryWriter(db).addCategory(QStringLiteral("Travel"), category));
        AlarmRecord none;
        const QString travelKey = TEventWriter(db).insertEntryWithAlarms(travel, none);
        QVERIFY(TLookup::Equal(db.DayEntries(), travel.bytes(), TXIsamFile::PrimaryIndex, travelKey));
        const QByteArray travelBefore(travel.bytes().data(), qsizetype(travel.bytes().size()));
        // The editor: round after round, each entry gets a new description, the
        // category and an alarm whose time names the round; every edit that
        // went through is noted.
        const QString notes = db.RootPath() + QStringLiteral("edits.txt");
        TestChild editor([&] {
            TQuorlaDB mine(TScriptedServices::ofTest());
            QFile log(notes);
            if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
                return 1;
            for (int round = 1; round <= 12; ++round) {
                for (const QString& key : keys) {
                    TEventWriter writer(mine);
                    std::optional<TRecordLock> lock;
                    DayEntryRecord e;
                    AlarmRecord a;
                    bool hadAlarm = false;
                    if (writer.openEntry(key, lock, e, a, hadAlarm) != TEventWriter::Result::Done)
                        continue;
                    e.setDescription(QStringLiteral("r%1").arg(round));
                    e.setCategoryKey(meeting);
                    e.setAssigneeKeys({RecordKey::format(1)});
                    a.clear();
                    a.setFlags(AlarmRecord::AlarmWanted);
                    a.setAlarmTime(RecordKey::format(1000 + round));
                    if (writer.updateEntryWithAlarms(key, e, a, QString()) == TEventWriter::Result::Done)
                        log.write((key + QLatin1Char(' ') + e.Description() + QLatin1Char('\n')).toUtf8());
                }
            }
            return 0;
        });
        // Refused while an entry is open in the editor (the message names its holder).
        const auto deletion = [&] { TCategoryWriter(db).deleteCategory(meeting); };
        QCOMPARE(retried(TCategoryWriter::Locked, 500, deletion), QString());
        QCOMPARE(editor.wait(), 0);

        QHash<QString, QString> lastEdit;
        for (const QByteArray& line : TestFile::read(notes).split('\n')) {
            if (!line.isEmpty())
                lastEdit.insert(QString::fromUtf8(line.left(10)), QString::fromUtf8(line.mid(11)));
        }
        DayEntryRecord entry;
        AlarmRecord alarm;
        for (const QString& key : keys) {
            QVERIFY(TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, key));
            QCOMPARE(entry.Description(), lastEdit.value(key, QStringLiteral("start")));
        }
        TLookup::Each(db.Alarms(), alarm.bytes(), [&](const QString&) {
            QVERIFY(TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey()));
            QCOMPARE(entry.Description(), QStringLiteral("r%1").arg(RecordKey::parse(alarm.AlarmTime()) - 1000));
        });
        QVERIFY(!TLookup::Equal(db.Categories(), category.bytes(), TXIsamFile::PrimaryIndex, meeting));
        QVERIFY(TLookup::Equal(db.DayEntries(), travel.bytes(), TXIsamFile::PrimaryIndex, travelKey));
        QCOMPARE(QByteArray(travel.bytes().data(), qsizetype(travel.bytes().size())), travelBefore);
    }
};

QUORLA_TEST_CORE_MAIN(tst_CategoryWriter)
#include "tst_categorywriter.moc"
