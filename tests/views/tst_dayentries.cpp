#include "EQuorla.h"
#include "QuorlaTest.h"
#include "TDayEntries.h"
#include "ViewTestSupport.h"

using namespace ViewTest;

class TestDayEntries : public QObject
{
    Q_OBJECT

private slots:
    // Each added entry is named by its description; "u" marks an un-timed one.
    void order_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<bool>("untimedFirst");
        QTest::addColumn<QStringList>("listed");
        const QStringList mixed{"uA", "uB", "14:00", "uC", "09:00"};   // timed ones keep their order
        QTest::newRow("un-timed first, reversed") << mixed << true << QStringList{"uC", "uB", "uA", "14:00", "09:00"};
        QTest::newRow("order of adding when off") << mixed << false << mixed;
    }
    void order()
    {
        QFETCH(QStringList, added);
        QFETCH(bool, untimedFirst);
        TDayEntries entries;
        entries.UntimedFirst = untimedFirst;
        for (int i = 0; i < added.size(); ++i) {
            const bool untimed = added[i].startsWith(QLatin1Char('u'));
            entries.Add(entry(added[i], untimed ? DayEntryRecord::UnTimed : 0,
                              untimed ? Day19990101 : at(added[i].left(2).toInt(), 0)),
                        QString::number(i + 1).rightJustified(10, QLatin1Char('0')));
        }
        QStringList got;
        for (int i = 0; i < entries.Count(); ++i) {
            got.append(entries.Entry(i).Description());
            QCOMPARE(entries.PkAt(i).toInt(), added.indexOf(got.last()) + 1); // the key travels with its record
        }
        QTEST(got, "listed");
        QVERIFY_THROWS_EXCEPTION(EQuorla, entries.Entry(-1));
        QVERIFY_THROWS_EXCEPTION(EQuorla, entries.PkAt(entries.Count()));
    }
};

QUORLA_TEST_CORE_MAIN(TestDayEntries)
#include "tst_dayentries.moc"
