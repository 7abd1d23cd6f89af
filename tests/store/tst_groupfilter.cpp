// User groups in their stored form, and the display filter.

#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "TFilterRules.h"
#include "TGroup.h"

class tst_GroupFilter : public QObject
{
    Q_OBJECT

private slots:
    // A group is read from its stored text and written back the same.
    void groupText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("members");
        QTest::newRow("empty slot") << "," << "" << QStringList{};
        QTest::newRow("name and two members")
            << "Sales,0000000002,0000000005" << "Sales" << QStringList{"0000000002", "0000000005"};
        QTest::newRow("name without members") << "Board," << "Board" << QStringList{};
        QTest::newRow("quoted item") << "\"Night, shift\",0000000001" << "Night, shift" << QStringList{"0000000001"};
    }

    void groupText()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, members);
        TGroup g;
        g.Name = QStringLiteral("stale");
        g.Add(QStringLiteral("0000000009"));
        g.SetFromText(text);
        QTEST(g.Name, "name");
        QCOMPARE(g.Members, members);
        QCOMPARE(g.AsText(), text);
        for (const QString& m : members)
            QVERIFY(g.Contains(m));
        QVERIFY(!g.Contains(QStringLiteral("0000000009")));
    }

    void accepts_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("assignees");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QString>("me");
        QTest::addColumn<bool>("accepted");
        const QStringList three5{"0000000003", "0000000005"};
        QTest::newRow("all: no assignees") << 0 << QStringList{} << QStringList{} << "0000000003" << true;
        QTest::newRow("mine: no assignees") << 1 << QStringList{} << QStringList{} << "0000000003" << false;
        QTest::newRow("mine: assigned") << 1 << three5 << QStringList{} << "0000000003" << true;
        QTest::newRow("mine: someone else's") << 1 << three5 << QStringList{} << "0000000004" << false;
        QTest::newRow("chosen: one of them") << 2 << three5 << QStringList{"0000000005"} << "0000000004" << true;
        QTest::newRow("chosen: none of them") << 2 << three5 << QStringList{"0000000004"} << "0000000003" << false;
        QTest::newRow("chosen: empty slot text never matches")
            << 2 << QStringList{"0000000003"} << QStringList{"0000000000"} << "0000000003" << false;
    }

    void accepts()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, assignees);
        QFETCH(QStringList, chosen);
        QFETCH(QString, me);
        DayEntryRecord entry;
        entry.initialise();
        entry.setOwnerKey(me);   // the owner never counts
        entry.setAssigneeKeys(assignees);
        TFilterRules rules;
        rules.Mode = quint8(mode);
        for (const QString& key : chosen)
            rules.Add(key);
        QTEST(rules.Accepts(me, entry), "accepted");
    }

};

QUORLA_TEST_CORE_MAIN(tst_GroupFilter)
#include "tst_groupfilter.moc"
