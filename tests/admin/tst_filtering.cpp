// The filtering dialog: what it shows of the rules and what OK, Cancel and the
// group button leave in them.

#include "DialogTest.h"
#include "QuorlaTest.h"
#include "TFilterRules.h"
#include "TDisplaySettings.h"
#include "TUserCheckList.h"
#include "TfrmFiltering.h"

#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

using namespace DialogTest;

class tst_Filtering : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { db = database(QStringLiteral("filtering")); }
    void execute_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("users");
        QTest::addColumn<QString>("act");
        QTest::addColumn<int>("shownTicked");
        QTest::addColumn<int>("expectedMode");
        QTest::addColumn<QStringList>("expectedUsers");
        QTest::newRow("these users, nobody ticked") << 0 << QStringList{} << "users" << 0 << 2 << QStringList{};
        QTest::newRow("mode 1 shows no tick") << 1 << QStringList{user(1)} << "users" << 0 << 2 << QStringList{};
        QTest::newRow("group replaces the ticks") << 0 << QStringList{} << "group" << 0 << 2
                                                  << QStringList{user(3), user(2)};
        QTest::newRow("removed user drops out") << 2 << QStringList{user(1), QStringLiteral("0000000099")} << "ok" << 1
                                                << 2 << QStringList{user(1)};
        QTest::newRow("cancel keeps the rules") << 1 << QStringList{user(1)} << "cancel" << 0 << 1 << QStringList{user(1)};
    }
    void execute()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, users);
        QFETCH(QString, act);
        TDisplaySettings cfg;
        cfg.Groups[4].SetFromText(QStringLiteral("Team,%1,%2").arg(user(2), user(3)));
        TFilterRules rules;
        rules.Mode = quint8(mode);
        for (const QString& user : users)
            rules.Add(user);
        TfrmFiltering dialog;
        int shownTicked = -1;
        whenModal([&](QWidget* w) {
            auto* list = child<QListWidget>(w, "lstUsers");
            shownTicked = TUserCheckList::TickedCount(*list);
            if (act == QLatin1String("users"))
                child<QRadioButton>(w, "rdoUsers")->click();
            if (act == QLatin1String("group")) {
                tick(w, "lstUsers", 1);   // U01 by hand, then all events again
                child<QRadioButton>(w, "rdoAll")->click();
                whenModal([](QWidget* picker) { child<QPushButton>(picker, "btnOk")->click(); });
                child<QToolButton>(w, "btnGroup")->click();
            }
            if (act == QLatin1String("cancel")) {
                child<QRadioButton>(w, "rdoAll")->click();
                child<QPushButton>(w, "btnCancel")->click();
            } else {
                child<QPushButton>(w, "btnOk")->click();
            }
        });
        QCOMPARE(dialog.Execute(cfg, *db, rules), act == QLatin1String("cancel") ? 2 : 1);
        QTEST(shownTicked, "shownTicked");
        QTEST(int(rules.Mode), "expectedMode");
        QTEST(rules.Users(), "expectedUsers");
    }

private:
    std::unique_ptr<TQuorlaDB> db;
};

QUORLA_TEST_GUI_MAIN(tst_Filtering)
#include "tst_filtering.moc"
