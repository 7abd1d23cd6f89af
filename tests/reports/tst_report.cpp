// The report's text for a range of calendar events, and one run of the dialog
// through to the viewer or to the error that ends it.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "TDetailsStore.h"
#include "TEventWriter.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TDisplaySettings.h"
#include "TQuorlaDB.h"
#include "TResourceWriter.h"
#include "TScriptedServices.h"
#include "TestDatabase.h"
#include "TfrmReport.h"
#include "TfrmReportViewer.h"

#include <QDateEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <memory>

class tst_Report : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("range");  // "yyyy-MM-dd yyyy-MM-dd"
        QTest::addColumn<bool>("admin");     // the current user Ann administers
        QTest::addColumn<QString>("lines");  // joined with "\n"

        const QString r = "2021-01-04 2021-01-04";
        const QString title = "Quorla Report From Mon 04 January 2021 To Mon 04 January 2021\n\n";
        const QString head = title + "All Categories\nAll Users\n\nJanuary 2021\n\n";
        QTest::newRow("no events") << QStringList() << r << false << title + "All Categories\nAll Users";
        QTest::newRow("same day, no assignees")
            << QStringList{"2021-01-04 09:30:00|Plan|0|0|1", "2021-01-04 14:00:00|Review|0|0|"} << r << false
            << head + "\tMon 04\t09:30\tPlan\t\n\t\t\tAnn\n\n\t  \t14:00\tReview\t\n\t\t\t";
        QTest::newRow("new month, same day in the next year")
            << QStringList{"2021-01-31 10:00:00|A|0|0|2", "2021-02-01 10:00:00|B|0|0|2,3", "2022-02-01 10:00:00|C|0|0|"}
            << "2021-01-01 2022-02-28" << false
            << "Quorla Report From Fri 01 January 2021 To Mon 28 February 2022\n\nAll Categories\nAll Users\n\n"
               "January 2021\n\n\tSun 31\t10:00\tA\t\n\t\t\tBob\n\n\nFebruary 2021\n\n\tMon 01\t10:00\tB\t\n"
               "\t\t\tBob, Cy\n\n\nFebruary 2022\n\n\tTue 01\t10:00\tC\t\n\t\t\t";
        const QStringList secret = {"2021-01-04 09:00:00|Others|2|0|3", "2021-01-04 10:00:00|Mine|2|0|1"};
        QTest::newRow("private of others left out")
            << secret << r << false << head + "\tMon 04\t10:00\tMine\t\n\t\t\tAnn\n";
        QTest::newRow("private of others for an administrator")
            << secret << r << true << head + "\tMon 04\t09:00\tOthers\t\n\t\t\tCy\n\n\t  \t10:00\tMine\t\n\t\t\tAnn\n";
        QTest::newRow("midnight and un-timed, last second in, next day out")
            << QStringList{"2021-01-04 00:00:00|Untimed|1|0|", "2021-01-04 00:00:00|Midnight|0|0|",
                           "2021-01-04 23:59:59|Late|0|0|", "2021-01-05 00:00:00|Next|1|0|"}
            << r << false
            << head + "\tMon 04\tDay\tUntimed\t\n\t\t\t\n\t  \tDay\tMidnight\t\n\t\t\t\n\t  \t23:59\tLate\t\n\t\t\t";
    }
    void text()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, range);
        QFETCH(bool, admin);
        QFETCH(QString, lines);
        makeDatabase(entries);
        TScriptedServices services;
        TReportBuilder builder;
        builder.StartDate = QDate::fromString(range.left(10), Qt::ISODate);
        builder.EndDate = QDate::fromString(range.mid(11), Qt::ISODate);
        builder.CurrentUser.setRights(admin ? UserRecord::CanAdminister : 0);
        builder.CurrentUserKey = RecordKey::format(1);
        QCOMPARE(builder.Build(db->DayEntries(), db->Users()), lines.split(QLatin1Char('\n')));
    }

    // The end beside the start, the place after the description, the notes after the names.
    void wholeEvents_data()
    {
        QTest::addColumn<QString>("entry");  // "yyyy-MM-dd hh:mm:ss|description|flags|minutes|days|place|notes"
        QTest::addColumn<QString>("lines");  // after the month heading, joined with "\n"
        QTest::newRow("end and place") << "2021-01-04 09:30:00|Plan|0|60|1|Room 4|"
                                       << "\tMon 04\t09:30-10:30\tPlan\tRoom 4\n\t\t\t";
        QTest::newRow("past midnight, notes") << "2021-01-04 22:00:00|Party|0|240|1||Food\nDrinks"
                                              << "\tMon 04\t22:00 to Tue 05 02:00\tParty\t\n\t\t\t\n\t\t\tFood\n\t\t\tDrinks";
        QTest::newRow("un-timed, three days") << "2021-01-04 00:00:00|Trip|1|0|3||" << "\tMon 04\tDay to Wed 06\tTrip\t\n\t\t\t";
    }
    void wholeEvents()
    {
        QFETCH(QString, entry);
        makeDatabase({});
        TScriptedServices services;
        const QStringList f = entry.split(QLatin1Char('|'));
        DayEntryRecord record;
        db->InitDayEntryRecord(record);
        record.setStartTime(RecordKey::format(QDateTime::fromString(f[0], "yyyy-MM-dd hh:mm:ss").toSecsSinceEpoch()));
        record.setDescription(f[1]);
        record.setFlags(f[2].toInt());
        AlarmRecord alarm;
        db->InitAlarmRecord(alarm);
        TEventWriter(*db).insertEntryWithAlarms(record, alarm, {}, {f[3].toInt() * 60, f[4].toInt(), f[5], f[6]});
        TReportBuilder builder;
        builder.StartDate = builder.EndDate = QDate(2021, 1, 4);
        TDetailsStore details(*db);
        QTEST(builder.Build(db->DayEntries(), db->Users(), &details).mid(7).join(QLatin1Char('\n')), "lines");
    }

    // A report for a room: the events booking it, under a line naming it.
    void resource()
    {
        makeDatabase({});
        TScriptedServices services;
        TResourceStore::TResource room{{}, QStringLiteral("Room 1"), {}};
        QCOMPARE(TResourceWriter(*db).Add(room), TResourceWriter::Result::Done);
        for (const QString& text : {QStringLiteral("Booked"), QStringLiteral("Free")}) {
            DayEntryRecord record;
            db->InitDayEntryRecord(record);
            record.setStartTime(RecordKey::format(QDateTime(QDate(2021, 1, 4), QTime(9, 0)).toSecsSinceEpoch()));
            record.setDescription(text);
            AlarmRecord alarm;
            db->InitAlarmRecord(alarm);
            TEventWriter(*db).insertEntryWithAlarms(record, alarm, {}, {3600, 1, {}, {}},
                                                    text == "Booked" ? QStringList{room.key} : QStringList());
        }
        TReportBuilder builder;
        builder.StartDate = builder.EndDate = QDate(2021, 1, 4);
        builder.RestrictResource = true;
        builder.ResourceKey = room.key;
        builder.ResourceName = room.name;
        builder.ReadBookings(*db);
        QCOMPARE(builder.Build(db->DayEntries(), db->Users()).mid(4).join(QLatin1Char('\n')),
                 "Resource = Room 1\n\nJanuary 2021\n\n\tMon 04\t09:00\tBooked\t\n\t\t\t");
    }

    // One run of the dialog for Bob's events to 5 January 2021: a report shown
    // in the viewer, one ended by an entry's missing assignee, or an export where
    // the file asked for gets his entries, each lasting the minutes chosen.
    void dialogRun_data()
    {
        QTest::addColumn<bool>("exported");
        QTest::addColumn<QString>("assignees"); // of "Plan" at 09:00; "Other" at 10:00 is Cy's
        QTest::addColumn<QString>("shown");     // the viewer's text, or empty when it never showed
        QTest::newRow("report") << false << "2,3" << "Quorla Report From Mon 04 January 2021 To Tue 05 January 2021\n\nAll "
                                                     "Categories\nUser(s) = Bob\n\nJanuary 2021\n\n\tTue 05\t09:00\tPlan\t\n"
                                                     "\t\t\tBob, Cy\n";
        QTest::newRow("missing assignee") << false << "2,99" << "";
        QTest::newRow("export") << true << "2" << "";
    }
    void dialogRun()
    {
        QFETCH(bool, exported);
        QFETCH(QString, assignees);
        QFETCH(QString, shown);
        makeDatabase({"2021-01-05 09:00:00|Plan|0|0|" + assignees, "2021-01-05 10:00:00|Other|0|0|3"});
        TScriptedServices services;
        services.setNow(QDateTime(QDate(2021, 1, 4), QTime(12, 0)));
        const QString path = TestEnvironment::freshFolder(QStringLiteral("export")) + QStringLiteral("/out.ics");
        if (exported) {
            services.expectSaveFile(path);
            services.expectMessage(TPersonServices::MessageKind::Information, QStringLiteral("1 event was exported to ") + path,
                                   TPersonServices::MessageAnswer::Ok);
        } else if (shown.isEmpty()) {
            services.expectMessage(TPersonServices::MessageKind::Error, "Unable to locate user", TPersonServices::MessageAnswer::Ok);
        }
        TfrmReport dialog(TScriptedServices::ofTest());
        if (exported)
            dialog.SetPurpose(TfrmReport::Purpose::Export);
        TfrmReportViewer viewer(TScriptedServices::ofTest());
        TDisplaySettings settings;
        QString seen;
        bool reshown = false;
        bool whole = false;
        QTimer::singleShot(0, &dialog, [&] {
            dialog.findChild<QDateEdit*>("cmbEndDate")->setDate(QDate(2021, 1, 5));
            dialog.findChild<QListWidget*>("lstUsers")->item(1)->setCheckState(Qt::Checked);
            auto* minutes = dialog.findChild<QSpinBox*>("spnDuration");
            minutes->setValue(45);
            // "1440 min" shows whole, beside the buttons rather than under them.
            const QRect box = minutes->geometry();
            whole = box.width() >= minutes->sizeHint().width() && dialog.rect().contains(box)
                    && !box.intersects(dialog.findChild<QPushButton*>("btnGo")->geometry())
                    && !box.intersects(dialog.findChild<QPushButton*>("btnClose")->geometry());
            QTimer::singleShot(0, &viewer, [&] {
                seen = viewer.findChild<QPlainTextEdit*>("memReport")->toPlainText();
                viewer.close();
            });
            dialog.findChild<QPushButton*>("btnGo")->click();
            reshown = dialog.isVisible();
            if (reshown)
                dialog.findChild<QPushButton*>("btnClose")->click();
        });
        QCOMPARE(dialog.Execute(settings, *db, UserRecord(), RecordKey::format(1), viewer), exported ? 1 : 2);
        QCOMPARE(reshown, !exported);
        QCOMPARE(services.busyDepth(), 0);
        QCOMPARE(seen, shown);
        if (!exported)
            return;
        QVERIFY(whole);
        const QByteArray text = TestFile::read(path);
        QVERIFY(text.contains("SUMMARY:Plan\r\n") && !text.contains("SUMMARY:Other"));
        QVERIFY(text.contains("DURATION:PT45M\r\n"));
    }

private:
    // A new database of the users Ann, Bob and Cy (keys 1 to 3) and the day
    // entries of `entries`, each "yyyy-MM-dd hh:mm:ss|description|flags|category|assignee,...".
    void makeDatabase(const QStringList& entries)
    {
        db = TestDatabase::database(QTest::currentDataTag(), {"Ann", "Bob", "Cy"});
        DayEntryRecord entry;
        for (const QString& text : entries) {
            const QStringList f = text.split(QLatin1Char('|'));
            entry.initialise();  // the tests run in UTC: local seconds are epoch seconds
            entry.setStartTime(RecordKey::format(QDateTime::fromString(f[0], "yyyy-MM-dd hh:mm:ss").toSecsSinceEpoch()));
            entry.setDescription(f[1]);
            entry.setFlags(f[2].toInt());
            entry.setCategoryKey(RecordKey::format(f[3].toInt()));
            const QStringList assignees = f[4].split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (int slot = 0; slot < assignees.size(); ++slot)
                entry.setAssignee(slot, RecordKey::format(assignees[slot].toInt()));
            QVERIFY(db->DayEntries().Insert(entry.bytes()));
        }
    }

    std::unique_ptr<TQuorlaDB> db;
};

QUORLA_TEST_GUI_MAIN(tst_Report)
#include "tst_report.moc"
