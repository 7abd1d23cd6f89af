// The workstation's display settings and groups in the workstation store.

#include "QuorlaTest.h"
#include "TDisplaySettings.h"
#include "TWorkstationStore.h"

#include <QFile>
#include <QSettings>

namespace {

QSettings raw()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(TWorkstationStore::Organisation),
                     QString::fromLatin1(TWorkstationStore::Application));
}

void wipe()
{
    QSettings s = raw();
    s.clear();
    s.sync();
}

} // namespace

class tst_DisplaySettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { wipe(); }
    void freshWorkstation();
    void eachValueStandsAlone_data();
    void eachValueStandsAlone();
    void roundTrip();
};

void tst_DisplaySettings::freshWorkstation()
{
    TDisplaySettings s;
    s.TimeColor = 1;
    s.Groups[3].SetFromText(QStringLiteral("Old,0000000001"));
    s.Load();
    QCOMPARE(s.TimeColor, 255);
    QCOMPARE(s.PrivateColor, 0x800000);
    QCOMPARE(s.CategoryColor, 0x808000);
    QCOMPARE(s.AssigneeColor, 0x8000);
    QCOMPARE(s.DescriptionColor, 0x800000);
    QVERIFY(!s.PrivateItalic && !s.CategoryItalic && !s.AssigneeItalic);
    QVERIFY(s.ExpandLines && s.ShowCategories && s.ShowAlarmGlyphs && s.ShowPrivateGlyphs);
    for (const TGroup& g : s.Groups)
        QVERIFY(g.Name.isEmpty() && g.Members.isEmpty());

    s.Save();
    QSettings stored = raw();
    QCOMPARE(stored.allKeys().size(), 22);
    QCOMPARE(stored.value(QStringLiteral("TimeColor")).toString(), QStringLiteral("255"));
    QCOMPARE(stored.value(QStringLiteral("ExpandLines")).toString(), QStringLiteral("1"));
    QCOMPARE(stored.value(QStringLiteral("PrivateItalic")).toString(), QStringLiteral("0"));
    for (int slot = 0; slot < 10; ++slot)
        QCOMPARE(stored.value(QStringLiteral("Group%1").arg(slot)).toString(), QStringLiteral(","));
}

void tst_DisplaySettings::eachValueStandsAlone_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("colour as words") << "TimeColor" << "red";
    QTest::newRow("colour with trailing text") << "TimeColor" << "255px";
    QTest::newRow("Boolean as a word") << "ExpandLines" << "false";
}

void tst_DisplaySettings::eachValueStandsAlone()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    {
        QSettings s = raw();
        s.setValue(name, text);
        s.setValue(QStringLiteral("CategoryColor"), 7);
        s.setValue(QStringLiteral("ShowCategories"), 0);
        s.setValue(QStringLiteral("Group2"), QStringLiteral("Sales,0000000002"));
    }
    TDisplaySettings d;
    d.Load();
    QCOMPARE(d.TimeColor, 255);
    QVERIFY(d.ExpandLines);
    QCOMPARE(d.CategoryColor, 7);
    QVERIFY(!d.ShowCategories);
    QCOMPARE(d.Groups[2].AsText(), QStringLiteral("Sales,0000000002"));
}

void tst_DisplaySettings::roundTrip()
{
    TDisplaySettings d;
    d.Load();
    d.TimeColor = 0x123456;
    d.AssigneeItalic = true;
    d.ShowPrivateGlyphs = false;
    d.Groups[9].SetFromText(QStringLiteral("Night,0000000004,0000000001"));
    d.Save();
    TDisplaySettings e;
    e.Load();
    QCOMPARE(e.TimeColor, 0x123456);
    QVERIFY(e.AssigneeItalic);
    QVERIFY(!e.ShowPrivateGlyphs);
    QCOMPARE(e.Groups[9].Members, (QStringList{"0000000004", "0000000001"}));
    QVERIFY(e.Groups[0].Name.isEmpty());
}

QUORLA_TEST_CORE_MAIN(tst_DisplaySettings)
#include "tst_displaysettings.moc"
