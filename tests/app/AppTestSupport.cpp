#include "AppTestSupport.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "TfrmDate.h"
#include "TfrmEvent.h"
#include "TfrmFiltering.h"
#include "TfrmLogin.h"
#include "TfrmNotify.h"
#include "TfrmMain.h"
#include "TfrmOptions.h"
#include "TfrmTrouble.h"
#include "UserRecord.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTextEdit>
#include <QTest>
#include <QTimer>

namespace AppTest {

std::unique_ptr<QTimer> answerPopups(QStringList answers, QStringList& seen)
{
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [answers, &seen]() mutable {
        auto* popup = qobject_cast<TfrmNotify*>(QApplication::activeModalWidget());
        if (popup == nullptr || !popup->isVisible())
            return;
        const QString text = popup->findChild<QTextEdit*>(QStringLiteral("edtDescription"))->toPlainText();
        seen << (answers.isEmpty() ? QLatin1Char('!') + text : text);
        const QString answer = answers.isEmpty() ? QStringLiteral("off") : answers.takeFirst();
        bool snooze = false;
        const int index = answer.toInt(&snooze);
        if (snooze)
            popup->findChild<QComboBox*>(QStringLiteral("cmbSnooze"))->setCurrentIndex(index);
        if (answer == QLatin1String("close"))
            popup->close();
        else if (answer == QLatin1String("esc") || answer == QLatin1String("enter"))
            QTest::keyClick(popup, answer == QLatin1String("esc") ? Qt::Key_Escape : Qt::Key_Return);
        else
            popup->findChild<QPushButton*>(answer == QLatin1String("off") ? "btnRemove" : "btnSnooze")->click();
    });
    timer->start(5);
    return timer;
}

void typeLogin(QWidget* dialog, const QString& name, const QString& password)
{
    // Typed key by key, so the edits' upper-casing is part of the road.
    for (auto [edit, text] : {std::pair{QStringLiteral("edtUserName"), name}, {QStringLiteral("edtPassword"), password}}) {
        auto* field = dialog->findChild<QLineEdit*>(edit);
        field->clear();
        QTest::keyClicks(field, text);
    }
    dialog->findChild<QAction*>(QStringLiteral("actOk"))->trigger();
}

void logIn(Shell& shell, const QString& name)
{
    whenModal([name](QWidget* dialog) { typeLogin(dialog, name, QString()); });
    shell.main->show();
    shell.main->FormActivate();
    shell.main->findChild<QTimer*>(QStringLiteral("tmrMain"))->stop();
}

QString freshWorkstation(const QString& location)
{
    QFile::remove(TWorkstationStore().Location());
    qputenv("TMPDIR", QFile::encodeName(TestEnvironment::freshFolder(QStringLiteral("tmp"))));
    return TestDatabase::use(location.isEmpty() ? TestEnvironment::freshFolder(QStringLiteral("db")) : location);
}

QString keyOf(int year, int month, int day, int hour, int minute)
{
    TStamp stamp;
    stamp.SetDateTime(year, month, day, hour, minute, 0);
    return stamp.Key();
}

QDate dayOf(const QString& key)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(key)));
    return stamp.AsDateTime().date();
}

QString addEntry(TQuorlaDB& db, const QString& start, const QString& owner, const QStringList& assignees, qint32 flags,
                 const QString& description)
{
    DayEntryRecord entry;
    db.InitDayEntryRecord(entry);
    entry.setStartTime(start);
    entry.setOwnerKey(owner);
    entry.setAssigneeKeys(assignees);
    entry.setFlags(flags);
    entry.setDescription(description);
    if (!db.DayEntries().Insert(entry.bytes()))
        qFatal("cannot add an entry");
    return db.DayEntries().CurrentKey();
}

void addAlarm(TQuorlaDB& db, const QString& time, const QString& user, const QString& entry)
{
    AlarmRecord alarm;
    alarm.setAlarmTime(time);
    alarm.setUserKey(user);
    alarm.setDayEntryKey(entry);
    alarm.rebuildUserAlarmKey();
    if (!db.Alarms().Insert(alarm.bytes()))
        qFatal("cannot add an alarm");
}

QString addUser(TQuorlaDB& db, const QString& name, const QString& password, qint32 rights)
{
    UserRecord user;
    db.InitUserRecord(user);
    user.setRights(rights);
    user.setUserName(name);
    user.setFullName(name);
    user.setAbbreviation(name);
    user.setPassword(password);
    if (!db.Users().Insert(user.bytes()))
        qFatal("cannot add a user");
    return db.Users().CurrentKey();
}

Shell::Shell(TServices scripted)
    : main(new TfrmMain(scripted))
{
    const TServices services = main->Services();
    main->AttachDialogs(new TfrmLogin(services, main), new TfrmDate(services, main));
    main->AttachToolDialogs(new TfrmOptions(services, main), new TfrmFiltering(main), new TfrmTrouble(services, main));
    main->AttachEventDialogs(new TfrmEvent(services, main), new TfrmNotify(services, main));
}

Shell::~Shell()
{
    delete main;
}

} // namespace AppTest
