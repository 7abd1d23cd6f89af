// The workstation's display settings and groups in the workstation store.

#include "QuorlaTest.h"
#include "TDisplaySettings.h"
#include "TWorkstationStore.h"

#include <QSettings>

namespace {

QSettings raw()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString(TWorkstationStore::Organisation),
                     QString(TWorkstationStore::Application));
}

} // namespace

class tst_DisplaySettings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings s = raw();
        s.clear();
    }

    // Loading from a fresh store gives the defaults, whatever was held before;
    // saving writes all twelve values and the ten groups, empty as ","; what
    // is saved loads back, a value of the wrong type as its default.
    void freshWorkstationAndBack()
    {
        TDisplaySettings s;
        s.TimeColor = 1;
        s.Groups[3].SetFromText(QStringLiteral("Old,0000000001"));
        s.Load();
        QCOMPARE(s.TimeColor, 255);
        QVERIFY(s.Groups[3].Name.isEmpty() && s.Groups[3].Members.isEmpty());
        s.Save();
        QSettings stored = raw();
        QCOMPARE(stored.allKeys().size(), 22);
        QCOMPARE(stored.value(QStringLiteral("TimeColor")).toString(), QStringLiteral("255"));
        for (int slot = 0; slot < 10; ++slot)
            QCOMPARE(stored.value(QStringLiteral("Group%1").arg(slot)).toString(), QStringLiteral(","));

        s.TimeColor = 0x123456;
        s.CategoryColor = 7;
        s.AssigneeItalic = true;
        s.ShowPrivateGlyphs = false;
        s.Groups[9].SetFromText(QStringLiteral("Night,0000000004,0000000001"));
        s.Save();
        raw().setValue(QStringLiteral("CategoryColor"), QStringLiteral("teal"));
        TDisplaySettings e;
        e.Load();
        QCOMPARE(e.CategoryColor, 0x808000); // a value of the wrong type keeps its default, the rest loads
        QCOMPARE(e.TimeColor, 0x123456);
        QVERIFY(e.AssigneeItalic);
        QVERIFY(!e.ShowPrivateGlyphs);
        QCOMPARE(e.Groups[9].Members, (QStringList{"0000000004", "0000000001"}));
    }
};

QUORLA_TEST_CORE_MAIN(tst_DisplaySettings)
#include "tst_displaysettings.moc"
