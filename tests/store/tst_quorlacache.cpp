// The lookup caches: loading once while nothing changes, seeing what another
// workstation changed, and a dataset file that is missing or changed within
// the same second.

#include "CategoryRecord.h"
#include "EQuorlaCache.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TCategoryCache.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TUserCache.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QFile>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

using TestDatabase::category;
using TestDatabase::user;

// File systems take file times from a clock that ticks every few milliseconds,
// so a write right after a load could keep the time the cache saw. Setting the
// file's time back to a fixed moment before the first load makes every later
// write a change, however fast the test runs.
void ageFile(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
}

} // namespace

class tst_QuorlaCache : public QObject
{
    Q_OBJECT

    // This workstation and another one, both connected to the same folder that
    // holds the users ANNA (key 1) and BERT (key 2) and the category Meeting.
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> here_;
    std::unique_ptr<TQuorlaDB> elsewhere_;
    int loads_ = 0;

    // A cache of `Cache` loading from this workstation's `dataset`.
    template <class Cache>
    std::unique_ptr<Cache> cache(TXIsamFile& dataset)
    {
        auto cache = std::make_unique<Cache>(dataset, TScriptedServices::ofTest().machine());
        cache->OnUpdate = [this, &dataset](TQuorlaCache& c) {
            ++loads_;
            c.FillFrom(dataset);
        };
        return cache;
    }

private slots:
    void init()
    {
        services_ = std::make_unique<TScriptedServices>();
        here_ = TestDatabase::database(QStringLiteral("cache"), {});
        elsewhere_ = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest());
        QVERIFY(TestDatabase::addUsers(here_->Users(), {"ANNA", "BERT"}));
        QVERIFY(here_->Categories().Insert(category(QStringLiteral("Meeting")).bytes()));
        ageFile(here_->Users().FileName());
        loads_ = 0;
    }
    void cleanup()
    {
        elsewhere_.reset();
        here_.reset();
        services_.reset();
    }

    // Loaded once while nothing changes; reloaded whole after another
    // workstation's change.
    void changeByAnotherWorkstation_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("fullName"); // empty: no longer there
        QTest::addColumn<int>("count");
        QTest::newRow("user added") << "add" << 3 << "CARL Fullname" << 3;
        QTest::newRow("user deleted") << "delete" << 2 << "" << 1;
    }
    void changeByAnotherWorkstation()
    {
        QFETCH(QString, change);
        QFETCH(int, key);
        QFETCH(QString, fullName);
        auto users = cache<TUserCache>(here_->Users());
        UserRecord u;
        users->Lookup(RecordKey::format(2), u);
        QCOMPARE(u, user(QStringLiteral("BERT")));
        users->Lookup(RecordKey::format(1), u);
        QCOMPARE(u, user(QStringLiteral("ANNA")));
        QCOMPARE(loads_, 1);
        QCOMPARE(services_->sleepCalls(), 0);
        TXIsamFile& theirs = elsewhere_->Users();
        QVERIFY(change == "add"      ? theirs.Insert(user(QStringLiteral("CARL")).bytes())
                                : theirs.Delete(RecordKey::format(2)));
        if (fullName.isEmpty()) {
            QCOMPARE(thrown<EQuorlaCache>([&] { users->Lookup(RecordKey::format(key), u); }),
                     QStringLiteral("Unable to locate key (%1) in user cache").arg(RecordKey::format(key)));
        } else {
            users->Lookup(RecordKey::format(key), u);
            QCOMPARE(u.FullName(), fullName);
        }
        QCOMPARE(loads_, 2);
        // The reload replaced everything: ANNA is there once, not twice.
        QTEST(int(users->Count()), "count");
    }

    // A dataset whose file went missing is looked for five times, 100 ms
    // apart, and reloads every time.
    void missingFile()
    {
        const QString path = QFileInfo(here_->Categories().FileName()).absolutePath() + "/QLGone.Ism";
        TXIsamFile gone;
        QVERIFY(gone.CreateDataset(path, 10, CategoryRecord::Format) && gone.Open(path));
        QVERIFY(QFile::remove(path));
        TCategoryCache categories(gone, TScriptedServices::ofTest().machine());
        categories.OnUpdate = [this](TQuorlaCache& c) {
            ++loads_;
            c.AddRecord(RecordKey::format(1), category(QStringLiteral("Meeting")).bytes());
        };
        CategoryRecord c;
        categories.Lookup(RecordKey::format(1), c);
        QCOMPARE(services_->sleepCalls(), 5);
        QCOMPARE(services_->sleptMilliseconds(), 500);
        categories.Lookup(RecordKey::format(1), c);
        QCOMPARE(services_->sleepCalls(), 10);
        QCOMPARE(loads_, 2);
        QCOMPARE(c.Description(), QStringLiteral("Meeting"));
    }

    // A change within the same second, which a whole-second file time would miss.
    void subSecondChange()
    {
        const QByteArray native = QFile::encodeName(here_->Users().FileName());
        const timespec seen[2] = {{1'000'000'000, 500'000'000}, {1'000'000'000, 500'000'000}};
        const timespec moved[2] = {{1'000'000'000, 500'001'000}, {1'000'000'000, 500'001'000}};
        QVERIFY(::utimensat(AT_FDCWD, native.constData(), seen, 0) == 0);
        auto users = cache<TUserCache>(here_->Users());
        UserRecord u;
        users->Lookup(RecordKey::format(1), u);
        QVERIFY(::utimensat(AT_FDCWD, native.constData(), moved, 0) == 0);
        users->Lookup(RecordKey::format(1), u);
        QCOMPARE(loads_, 2);
    }
};

QUORLA_TEST_CORE_MAIN(tst_QuorlaCache)
#include "tst_quorlacache.moc"
