#include "QuorlaTest.h"

#include "EQuorla.h"
#include "TDayEntries.h"
#include "ViewTestSupport.h"

#include <QObject>

using ViewTest::at;
using ViewTest::entry;

class TestDayEntries : public QObject
{
    Q_OBJECT

private slots:
    void order_data();
    void order();
    void entriesAreCopies();
    void indexOutsideThrows_data();
    void indexOutsideThrows();
};

// Each added entry is named by its description; "u" marks an un-timed one.
void TestDayEntries::order_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<bool>("untimedFirst");
    QTest::addColumn<QStringList>("listed");

    const QStringList mixed{"uA", "uB", "uC", "09:00", "14:00"};
    QTest::newRow("un-timed first, reversed") << mixed << true
                                              << QStringList{"uC", "uB", "uA", "09:00", "14:00"};
    QTest::newRow("order of adding when off") << mixed << false << mixed;
    QTest::newRow("un-timed after timed moves ahead")
        << QStringList{"09:00", "uA", "14:00", "uB"} << true
        << QStringList{"uB", "uA", "09:00", "14:00"};
    QTest::newRow("timed only keep their order")
        << QStringList{"14:00", "09:00"} << true << QStringList{"14:00", "09:00"};
}

void TestDayEntries::order()
{
    QFETCH(QStringList, added);
    QFETCH(bool, untimedFirst);
    QFETCH(QStringList, listed);

    TDayEntries entries;
    entries.UntimedFirst = untimedFirst;
    int key = 0;
    for (const QString& name : added) {
        const bool untimed = name.startsWith(QLatin1Char('u'));
        entries.Add(entry(name, untimed ? DayEntryRecord::UnTimed : 0,
                          untimed ? ViewTest::Day19990101 : at(name.left(2).toInt(), 0)),
                    QString::number(++key).rightJustified(10, QLatin1Char('0')));
    }

    QStringList got;
    for (int i = 0; i < entries.Count(); ++i) {
        got.append(entries.Entry(i).Description());
        // The key travels with its record.
        const int addedAt = added.indexOf(entries.Entry(i).Description());
        QCOMPARE(entries.PkAt(i).toInt(), addedAt + 1);
    }
    QCOMPARE(got, listed);
}

void TestDayEntries::entriesAreCopies()
{
    TDayEntries entries;
    DayEntryRecord record = entry(QStringLiteral("Budget"));
    entries.Add(record, QStringLiteral("0000000001"));
    record.setDescription(QStringLiteral("changed by the caller"));

    DayEntryRecord copy = entries.Entry(0);
    copy.setDescription(QStringLiteral("changed through a copy"));

    QCOMPARE(entries.Entry(0).Description(), QStringLiteral("Budget"));
}

void TestDayEntries::indexOutsideThrows_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("negative") << -1;
    QTest::newRow("one past the end") << 1;
}

void TestDayEntries::indexOutsideThrows()
{
    QFETCH(int, index);
    TDayEntries entries;
    entries.Add(entry(QStringLiteral("a")), QStringLiteral("0000000001"));
    QVERIFY_THROWS_EXCEPTION(EQuorla, entries.Entry(index));
    QVERIFY_THROWS_EXCEPTION(EQuorla, entries.PkAt(index));
}

QUORLA_TEST_CORE_MAIN(TestDayEntries)
#include "tst_dayentries.moc"
