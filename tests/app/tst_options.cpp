// The options dialog inside the running program: both views change together,
// Cancel changes nothing, and the workstation store sees the settings only
// when the program ends; an administrator's days kept, office time zone and
// working hours reach the database, and other users see them greyed.

#include "AppTestSupport.h"
#include "DialogTest.h"

#include "TChangeTrail.h"
#include "TDayView.h"
#include "TQuorlaDB.h"
#include "TWeekView.h"
#include "TWorkingHours.h"
#include "TfrmMain.h"

#include <QAction>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

using namespace DialogTest;

namespace {

// The program started on a new database by its first administrator.
std::unique_ptr<AppTest::Shell> start(TScriptedServices& services, bool expandLines = true)
{
    AppTest::freshWorkstation();
    TWorkstationStore store;
    store.OpenKey(true);
    store.WriteBool(QStringLiteral("ExpandLines"), expandLines);
    services.expectMessageStartingWith(Kind::Information, QStringLiteral("Welcome to Quorla"), Answer::Ok);
    auto shell = std::make_unique<AppTest::Shell>();
    shell->main->FormActivate();
    return shell;
}

// Runs the Options command; `act` works the dialog before `button` is pressed.
void options(TfrmMain* main, std::function<void(QWidget*)> act, const char* button)
{
    whenModal([act, button](QWidget* dialog) {
        act(dialog);
        child<QPushButton>(dialog, button)->click();
    });
    main->findChild<QAction*>(QStringLiteral("actToolsOptions"))->trigger();
}

void pickOrange(QWidget* dialog, const char* list)
{
    child<QComboBox>(dialog, list)->setCurrentIndex(child<QComboBox>(dialog, list)->findText(QStringLiteral("darkorange")));
}

} // namespace

class tst_Options : public QObject
{
    Q_OBJECT

private slots:
    void cancelChangesNothingOkAlignsBothViews()
    {
        TScriptedServices services;
        auto shell = start(services, false);
        TWeekView* week = shell->main->WeekView();
        TDayView* day = shell->main->DayView();
        const TDisplayStyle before = week->Style();
        const auto expand = [](QWidget* d) { child<QCheckBox>(d, "chkExpandLines")->setChecked(true); };
        options(shell->main, [&](QWidget* d) {
            expand(d);
            pickOrange(d, "cmbTimeColor");
        }, "btnCancel");
        QVERIFY(week->Style() == before && day->Style() == before);
        TDisplayStyle style = before;
        style.AssigneeFont.setBold(true);
        week->setStyle(style);
        style.CategoryFont = TFont(TColorRef::clOlive, true);
        style.ShowCategories = false;
        day->setStyle(style);
        TColor shown = -1;
        options(shell->main, [&](QWidget* d) {
            expand(d);
            shown = child<QComboBox>(d, "cmbTimeColor")->currentData().toInt();
            child<QCheckBox>(d, "chkAssigneeItalic")->setChecked(true);
            pickOrange(d, "cmbPrivateColor");
        }, "btnOk");
        QCOMPARE(shown, before.TimeFont.Color());
        QVERIFY(week->Style().AssigneeFont.Italic() && !week->Style().AssigneeFont.Bold());
        QCOMPARE(week->Style().PrivateFont.qcolor(), QColor(QStringLiteral("darkorange")));
        QVERIFY(day->Style() == week->Style() && day->Style().ShowCategories);
        QVERIFY(week->Style().DisplayMode == TDisplayMode::dmDouble);
        // The workstation store gets the settings when the program ends.
        TWorkstationStore store;
        QVERIFY(store.OpenKey(false) && !store.ReadBool(QStringLiteral("ExpandLines"), true));
        shell.reset();
        QVERIFY(store.ReadBool(QStringLiteral("ExpandLines"), false));
    }
    void databaseSettingsGoToTheDatabase()
    {
        TScriptedServices services;
        auto shell = start(services);
        // The days kept on show, and whether they and the office's zone may change.
        QList<QPair<int, bool>> shown;
        const auto setDays = [&shown](int days) {
            return [&shown, days](QWidget* d) {
                auto* edit = child<QSpinBox>(d, "edtDaysKept");
                auto* zone = child<QComboBox>(d, "cmbOfficeZone");
                QCOMPARE(zone->isEnabled(), edit->isEnabled());
                shown << qMakePair(edit->value(), child(d, "tabChanges")->isEnabled() && edit->isEnabled());
                if (edit->isEnabled()) {
                    edit->setValue(days);
                    // The workstation's zone, taken when the database was made.
                    QCOMPARE(zone->currentText(), QStringLiteral("UTC"));
                    zone->setCurrentIndex(zone->findText(QStringLiteral("Europe/Berlin")));
                    child<QTimeEdit>(d, "edtWorkEnd")->setTime(QTime(17, 0));
                    child<QCheckBox>(d, "chkWorkFri")->setChecked(false);
                }
            };
        };
        options(shell->main, setDays(30), "btnCancel");
        options(shell->main, setDays(90), "btnOk");
        TQuorlaDB other(TScriptedServices::ofTest());
        QCOMPARE(other.Trail().DaysKept(), 90);
        QCOMPARE(other.OfficeZone(), QByteArray("Europe/Berlin"));
        QCOMPARE(TWorkingHours::Of(other).text(), QStringLiteral("08:00-17:00 1234"));
        // A plain user sees what the office keeps, greyed.
        AppTest::addUser(*shell->main->Database(), QStringLiteral("PLAIN"), QString(), 1);
        whenModal([](QWidget* login) { AppTest::typeLogin(login, QStringLiteral("PLAIN"), QString()); });
        shell->main->findChild<QAction*>(QStringLiteral("actFileLogin"))->trigger();
        options(shell->main, setDays(30), "btnOk");
        QCOMPARE(shown, (QList<QPair<int, bool>>{{365, true}, {365, true}, {90, false}}));
        QCOMPARE(other.Trail().DaysKept(), 90);
    }
};

QUORLA_TEST_GUI_MAIN(tst_Options)
#include "tst_options.moc"
