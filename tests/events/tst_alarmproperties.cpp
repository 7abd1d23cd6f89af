// The alarm time dialog: five-minute steps, Close against the title-bar close,
// and two-digit years read from 1970.

#include "AlarmRecord.h"
#include "DialogTest.h"
#include "QuorlaTest.h"
#include "TDateEdit.h"
#include "TScriptedServices.h"
#include "TStamp.h"
#include "TfrmAlarmProperties.h"

#include <QComboBox>

using namespace DialogTest;

class tst_AlarmProperties : public QObject
{
    Q_OBJECT

private slots:
    void closeStoresShownTime_data();
    void closeStoresShownTime();
};

void tst_AlarmProperties::closeStoresShownTime_data()
{
    QTest::addColumn<QString>("typedDate");   // day, month, year digits; empty: as shown
    QTest::addColumn<bool>("titleBar");
    QTest::addColumn<QString>("stored");
    QTest::newRow("close keeps the step below") << QString() << false << "2024-03-04 08:55";
    QTest::newRow("title-bar close changes nothing") << "010130" << true << "2024-03-04 08:58";
    QTest::newRow("70 is 1970") << "020170" << false << "1970-01-02 08:55";
    QTest::newRow("37 is 2037") << "311237" << false << "2037-12-31 08:55";
}

void tst_AlarmProperties::closeStoresShownTime()
{
    QFETCH(QString, typedDate);
    QFETCH(bool, titleBar);
    QFETCH(QString, stored);
    TScriptedServices services;
    TStamp stamp;
    stamp.SetDateTime(2024, 3, 4, 8, 58, 0);
    AlarmRecord alarm;
    alarm.setAlarmTime(stamp.Key());
    TfrmAlarmProperties dialog;
    whenModal([&](QWidget* w) {
        QCOMPARE(child<QComboBox>(w, "cmbHour")->currentText(), QStringLiteral("08"));
        QCOMPARE(child<QComboBox>(w, "cmbMinute")->currentText(), QStringLiteral("55"));
        if (!typedDate.isEmpty()) {
            auto* date = child<TDateEdit>(w, "cmbDate");
            date->setSelectedSection(QDateTimeEdit::DaySection);
            QTest::keyClicks(date, typedDate);
        }
        if (titleBar)
            w->close();
        else
            QTest::mouseClick(child(w, "btnClose"), Qt::LeftButton);
    });
    QCOMPARE(dialog.Execute(alarm), titleBar ? 2 : 1);
    stamp.SetSeconds(alarm.AlarmTime().toInt());
    QCOMPARE(stamp.AsDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")), stored);
}

QUORLA_TEST_GUI_MAIN(tst_AlarmProperties)
#include "tst_alarmproperties.moc"
