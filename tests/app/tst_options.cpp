// The options dialog inside the running program: both views change together,
// Cancel changes nothing, and the workstation store sees the settings only
// when the program ends.

#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "TDayView.h"
#include "TWeekView.h"
#include "TWorkstationStore.h"
#include "TfrmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

using namespace AppTest;

namespace {

template <class W>
W* child(QWidget* dialog, const char* name)
{
    return dialog->findChild<W*>(QLatin1String(name));
}

// The program started on a new database by its first administrator.
std::unique_ptr<Shell> start(TScriptedServices& services)
{
    services.expectMessageStartingWith(TServices::MessageKind::Information, QStringLiteral("Welcome to Quorla"),
                                       TServices::MessageAnswer::Ok);
    auto shell = std::make_unique<Shell>();
    shell->main->show();
    shell->main->FormActivate();
    return shell;
}

// Runs the Options command; `act` works the dialog before `button` is pressed.
void options(TfrmMain* main, std::function<void(QWidget*)> act, const char* button)
{
    answerModal([act, button](QWidget* dialog) {
        act(dialog);
        child<QPushButton>(dialog, button)->click();
    });
    main->findChild<QAction*>(QStringLiteral("actToolsOptions"))->trigger();
}

void pick(QWidget* dialog, const char* list, const char* colour)
{
    auto* box = child<QComboBox>(dialog, list);
    box->setCurrentIndex(box->findText(QLatin1String(colour)));
}

bool storedExpandLines()
{
    TWorkstationStore store;
    return store.OpenKey(false) && store.ReadBool(QStringLiteral("ExpandLines"), true);
}

} // namespace

class tst_Options : public QObject
{
    Q_OBJECT

private slots:
    void expandingReachesBothViewsAndTheStoreAtExit();
    void cancelChangesNothing();
    void okAlignsTheDayViewAndDropsBold();
};

void tst_Options::expandingReachesBothViewsAndTheStoreAtExit()
{
    freshWorkstation();
    { TWorkstationStore store; store.OpenKey(true); store.WriteBool(QStringLiteral("ExpandLines"), false); }
    TScriptedServices services;
    auto shell = start(services);
    options(shell->main, [](QWidget* d) { child<QCheckBox>(d, "chkExpandLines")->setChecked(true); }, "btnOk");
    QCOMPARE(shell->main->WeekView()->DisplayMode(), TDisplayMode::dmDouble);
    QCOMPARE(shell->main->DayView()->DisplayMode(), TDisplayMode::dmDouble);
    QVERIFY(!storedExpandLines());
    shell.reset();
    QVERIFY(storedExpandLines());
}

void tst_Options::cancelChangesNothing()
{
    freshWorkstation();
    TScriptedServices services;
    auto shell = start(services);
    const TColor before = shell->main->WeekView()->TimeFont()->Color();
    options(shell->main, [](QWidget* d) { pick(d, "cmbTimeColor", "gold"); }, "btnCancel");
    QCOMPARE(shell->main->WeekView()->TimeFont()->Color(), before);
    QCOMPARE(shell->main->DayView()->TimeFont()->Color(), before);
    TColor shown = -1;
    options(shell->main, [&shown](QWidget* d) { shown = child<QComboBox>(d, "cmbTimeColor")->currentData().toInt(); },
            "btnCancel");
    QCOMPARE(shown, before);
}

void tst_Options::okAlignsTheDayViewAndDropsBold()
{
    freshWorkstation();
    TScriptedServices services;
    auto shell = start(services);
    TWeekView* week = shell->main->WeekView();
    TDayView* day = shell->main->DayView();
    TFont bold = *week->AssigneeFont();
    bold.setBold(true);
    week->setAssigneeFont(bold);
    TFont odd = *day->CategoryFont();
    odd.setBold(true);
    odd.setColor(TColorRef::clOlive);
    day->setCategoryFont(odd);
    day->setShowCategories(!week->ShowCategories());
    day->setDisplayMode(week->DisplayMode() == TDisplayMode::dmDouble ? TDisplayMode::dmSingle : TDisplayMode::dmDouble);
    options(shell->main, [](QWidget* d) {
        child<QCheckBox>(d, "chkAssigneeItalic")->setChecked(true);
        pick(d, "cmbPrivateColor", "gold");
    }, "btnOk");
    QVERIFY(week->AssigneeFont()->Italic() && !week->AssigneeFont()->Bold());
    QCOMPARE(week->PrivateFont()->qcolor(), QColor(QStringLiteral("gold")));
    QVERIFY(*day->TimeFont() == *week->TimeFont() && *day->DescriptionFont() == *week->DescriptionFont());
    QVERIFY(*day->AssigneeFont() == *week->AssigneeFont() && *day->CategoryFont() == *week->CategoryFont());
    QVERIFY(*day->PrivateFont() == *week->PrivateFont());
    QCOMPARE(day->ShowCategories(), week->ShowCategories());
    QCOMPARE(day->DisplayMode(), week->DisplayMode());
}

QUORLA_TEST_GUI_MAIN(tst_Options)
#include "tst_options.moc"
