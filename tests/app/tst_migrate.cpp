// quorla_migrate on a database made by the stress program: onto a private
// database server and back into a folder, every record byte for byte and
// every next key as in the source, and the program shows the same week from
// each of the three. And the sources and targets it refuses, the targets left
// as they were.

#include "AppTestSupport.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"
#include "TestEnvironment.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "TDatabaseLocation.h"
#include "TEventWriter.h"
#include "TIsamFormat.h"
#include "TQuorlaDB.h"
#include "TQuorlaDatasets.h"
#include "TWorkingHours.h"
#include "TDayView.h"
#include "TWeekView.h"
#include "TrailRecord.h"
#include "TfrmMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

using namespace AppTest;

namespace {

struct Outcome
{
    int status = -1;
    QString output;
};

Outcome runTool(const QString& program, const QStringList& arguments, int timeoutMs = 120'000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Outcome outcome;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        outcome.status = process.exitCode();
    outcome.output = QString::fromLocal8Bit(process.readAll());
    return outcome;
}

// Every record of every dataset as "dataset key: bytes in hex", and each
// dataset's next key, identity and office zone, read through the engine.
QStringList contents(const QString& location)
{
    QStringList lines;
    for (const TQuorlaDatasets::Dataset& d : TQuorlaDatasets::All()) {
        TXIsamFile file;
        if (!file.Open(TDatabaseLocation(location).DatasetName(d.fileName)))
            return {QStringLiteral("cannot open ") + d.fileName + QStringLiteral(": ") + file.ErrorText()};
        TIsamFormat format;
        format.parse(d.format);
        QByteArray record(qsizetype(format.recordSize()), 0);
        const std::span<char> buffer(record.data(), std::size_t(record.size()));
        while (file.Get(buffer, 0, QString(), TXIsamFile::ScanNext))
            lines << d.fileName + QLatin1Char(' ') + file.CurrentKey() + QStringLiteral(": ")
                         + QString::fromLatin1(record.toHex());
        lines << d.fileName + QStringLiteral(" next ") + file.NextKey();
        QString identity;
        if (file.ReadIdentity(identity))
            lines << d.fileName + QStringLiteral(" identity ") + identity;
        for (const QLatin1StringView setting : {TQuorlaDB::OfficeZoneSetting, TWorkingHours::Setting}) {
            QString value;
            if (file.ReadSetting(QString(setting), value))
                lines << d.fileName + QLatin1Char(' ') + setting + QLatin1Char(' ') + value;
        }
    }
    return lines;
}

// A copy of the database folder `folder` whose day entries read well at
// first and fail half-way: the middle of the file overwritten.
QString damagedCopy(const QString& folder)
{
    const QString copy = TestEnvironment::freshFolder(QStringLiteral("damaged")) + QLatin1Char('/');
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.Ism")}, QDir::Files))
        QFile::copy(folder + name, copy + name);
    QFile entries(copy + DayEntryRecord::FileName);
    if (!entries.open(QIODevice::ReadWrite) || !entries.seek(entries.size() / 3))
        return QString();
    entries.write(QByteArray(int(entries.size() / 3), '\xff'));
    return copy;
}

// The keys the program on `location`, logged in as U1, shows on each day
// of the week of `now`.
QStringList weekShown(const QString& location, const QDateTime& now)
{
    freshWorkstation(location);
    TScriptedServices services;
    services.setNow(now);
    Shell shell;
    logIn(shell, QStringLiteral("U1"));
    QStringList keys;
    for (const auto* day : shell.main->WeekView()->Days())
        for (int i = 0; i < day->DayEntries().Count(); ++i)
            keys << day->DayEntries().PkAt(i);
    return keys;
}

} // namespace

class TestMigrate : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;
    QString stressed_;
    QDateTime stressedAt_;

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
        stressedAt_ = QDateTime::currentDateTime();
        stressed_ = TestEnvironment::freshFolder(QStringLiteral("stress")) + QStringLiteral("/run/");
        const Outcome stress = runTool(QStringLiteral(QUORLA_STRESS),
                                       {QStringLiteral("run"), QStringLiteral("--workers"), QStringLiteral("3"),
                                        QStringLiteral("--seconds"), QStringLiteral("5"), QStringLiteral("--kills"),
                                        QStringLiteral("1"), stressed_},
                                       180'000);
        QVERIFY2(stress.status == 0, qPrintable(stress.output));
        // A key freed at the top, which every copy must keep freed.
        freshWorkstation(stressed_);
        TScriptedServices services;
        TQuorlaDB db(TScriptedServices::ofTest());
        const QString key = addUser(db, QStringLiteral("GONE"), QString(), 1);
        QVERIFY(db.Users().Delete(key));
        // An identity, as an export leaves, which every copy must keep.
        QString identity;
        QVERIFY(db.Users().Identity(identity));
        // And the office's zone, another than the targets' workstation's.
        db.SetOfficeZone("Europe/Berlin");
        TWorkingHours::Store(db, *TWorkingHours::fromText(QStringLiteral("07:30-16:00 1234")));
        // An event with a place and notes in three parts.
        DayEntryRecord entry;
        db.InitDayEntryRecord(entry);
        entry.setStartTime(QStringLiteral("0000086400"));
        AlarmRecord none;
        TEntryDetails details;
        details.location = QStringLiteral("Hall");
        details.notes = QString(700, QLatin1Char('n'));
        TEventWriter(db).insertEntryWithAlarms(entry, none, {}, details);
    }
    void cleanupTestCase() { server_.reset(); }

    void bothWays()
    {
        const QString uri = server_->createDatabase(QStringLiteral("office"));
        QVERIFY(!uri.isEmpty());
        const Outcome there = runTool(QStringLiteral(QUORLA_MIGRATE), {stressed_, uri});
        QVERIFY2(there.status == 0 && there.output.contains(QLatin1String("Copied and checked."))
                     && there.output.contains(QLatin1String("users are server roles now")),
                 qPrintable(there.output));
        // A folder where a workstation made the empty datasets at its first
        // start is an empty target too.
        const QString back = TestEnvironment::freshFolder(QStringLiteral("back")) + QLatin1Char('/');
        {
            freshWorkstation(back);
            TScriptedServices services;
            TQuorlaDB made(TScriptedServices::ofTest());
        }
        const Outcome home = runTool(QStringLiteral(QUORLA_MIGRATE), {uri, back});
        QVERIFY2(home.status == 0 && home.output.contains(QLatin1String("empty password in the copy")),
                 qPrintable(home.output));

        const QStringList source = contents(stressed_);
        QVERIFY(source.size() > 100);
        // Details of the stress run's own, and of its events that booked rooms, with those bookings.
        QVERIFY(source.filter(QRegularExpression(QStringLiteral("^QLDetail.Ism [0-9]+:"))).size() >= 4);
        QVERIFY(!source.filter(QRegularExpression(QStringLiteral("^QLBook.Ism [0-9]+:"))).isEmpty());
        QCOMPARE(contents(uri), source);
        QCOMPARE(contents(back), source);

        const QStringList shown = weekShown(stressed_, stressedAt_);
        QVERIFY(!shown.isEmpty());
        QCOMPARE(weekShown(uri, stressedAt_), shown);
        QCOMPARE(weekShown(back, stressedAt_), shown);
    }

    // Refused targets and sources: the status, the words, and the target as
    // it was. A database that never met a program with the change trail is no
    // refusal: it is copied all the same.
    void sourcesAndTargets_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("folder target has held one") << "stress" << "folder:1-1" << 1 << "is not empty";
        QTest::newRow("server target holds a record") << "stress" << "server:1" << 1 << "is not empty";
        QTest::newRow("source is no database") << "folder:none" << "server:" << 1 << "is no Quorla database";
        QTest::newRow("folder without its slash") << "stress" << "folder-without-slash" << 2 << "neither a folder";
        QTest::newRow("the same database twice") << "stress" << "stress" << 1 << "the same database";
        QTest::newRow("source without the change trail") << "folder:1 untrailed" << "folder:" << 0
                                                         << "Copied and checked.";
        QTest::newRow("source damaged: nothing kept") << "damaged" << "new" << 1 << "Nothing of the copy was kept";
        QTest::newRow("source damaged onto a server: nothing kept")
            << "damaged" << "server:" << 1 << "Nothing of the copy was kept";
    }
    void sourcesAndTargets()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, says);
        static int serial = 0;
        QString database;
        // "folder:" / "server:" + users added ("1"), or added and removed
        // ("1-1"), or added and the trail removed ("1 untrailed"), or "none"
        // for no database at all.
        const auto make = [this, &database](const QString& what) -> QString {
            if (what == QLatin1String("stress"))
                return QString();
            if (what == QLatin1String("folder-without-slash"))
                return TestEnvironment::freshFolder(QStringLiteral("plain"));
            if (what == QLatin1String("new"))
                return TestEnvironment::freshFolder(QStringLiteral("made")) + QStringLiteral("/new/");
            if (what == QLatin1String("damaged"))
                return damagedCopy(stressed_);
            database = QStringLiteral("refusal%1").arg(++serial);
            const QString location = what.startsWith(QLatin1String("server"))
                ? server_->createDatabase(database)
                : TestEnvironment::freshFolder(QStringLiteral("refusal")) + QLatin1Char('/');
            const QString users = what.section(':', 1);
            if (users.isEmpty() || users == QLatin1String("none"))
                return location;
            freshWorkstation(location);
            TScriptedServices services;
            {
                TQuorlaDB db(TScriptedServices::ofTest());
                addUser(db, QStringLiteral("ANNA"), QString(), 1);
                if (users == QLatin1String("1-1"))
                    db.Users().Delete(db.Users().CurrentKey());
            }
            if (users == QLatin1String("1 untrailed") && !QFile::remove(location + TrailRecord::FileName))
                return QString();
            return location;
        };
        const QString source = from == QLatin1String("stress") ? stressed_ : make(from);
        const QString target = to == QLatin1String("stress") ? stressed_ : make(to);
        const QStringList before = target.isEmpty() ? QStringList() : contents(target);
        const Outcome outcome = runTool(QStringLiteral(QUORLA_MIGRATE), {source, target});
        QTEST(outcome.status, "status");
        QVERIFY2(outcome.output.contains(says), qPrintable(outcome.output));
        if (!before.isEmpty() && !before.constFirst().startsWith(QLatin1String("cannot open")))
            QCOMPARE(contents(target), before);
        QVERIFY(to != QLatin1String("new") || !QFileInfo::exists(target));
        // An empty server database stays without a single table.
        if (to == QLatin1String("server:"))
            QCOMPARE(server_->query(database, "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"),
                     QStringLiteral("0"));
    }
};

QUORLA_TEST_GUI_MAIN(TestMigrate)
#include "tst_migrate.moc"
