// The lookup caches: loading once while nothing changes, seeing what another
// workstation changed, the not-found and duplicate messages, a load without a
// loader, keys that arrive out of order, and a dataset file that is missing.

#include "CategoryRecord.h"
#include "EQuorlaCache.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TCategoryCache.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TUserCache.h"
#include "TWorkstationStore.h"
#include "UserRecord.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <array>
#include <memory>
#include <span>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

UserRecord user(const QString& name)
{
    UserRecord r;
    r.setUserName(name);
    r.setFullName(name + QStringLiteral(" Fullname"));
    r.setAbbreviation(name.left(3));
    return r;
}

CategoryRecord category(const QString& description)
{
    CategoryRecord r;
    r.setDescription(description);
    return r;
}

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

QString lookupFailure(TQuorlaCache& cache, const QString& key)
{
    std::array<char, 68> buffer{};
    try {
        cache.Lookup(key, std::span<char>(buffer).first(std::size_t(cache.RecordSize())));
    } catch (const EQuorlaCache& e) {
        return e.message();
    }
    return QStringLiteral("(found)");
}

} // namespace

class tst_QuorlaCache : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void loadsOnceWhileNothingChanges();
    void changeByAnotherWorkstation_data();
    void changeByAnotherWorkstation();
    void notFound_data();
    void notFound();
    void duplicateKeyStopsTheLoad();
    void loadWithoutLoader();
    void keysAddedOutOfOrder();
    void missingFile();
    void fileSignature_data();
    void fileSignature();

private:
    // This workstation and another one, both connected to the same folder that
    // holds the users ANNA (key 1) and BERT (key 2) and the category Meeting.
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> here_;
    std::unique_ptr<TQuorlaDB> elsewhere_;
    int userLoads_ = 0;
    int categoryLoads_ = 0;

    std::unique_ptr<TUserCache> userCache();
    std::unique_ptr<TCategoryCache> categoryCache();
};

void tst_QuorlaCache::init()
{
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("cache"));
    TWorkstationStore store;
    QVERIFY(store.OpenKey(true));
    QVERIFY(store.WriteString(QStringLiteral("RootPath"), folder));
    services_ = std::make_unique<TScriptedServices>();
    here_ = std::make_unique<TQuorlaDB>();
    elsewhere_ = std::make_unique<TQuorlaDB>();
    QVERIFY(here_->Users().Insert(user(QStringLiteral("ANNA")).bytes()));
    QVERIFY(here_->Users().Insert(user(QStringLiteral("BERT")).bytes()));
    QVERIFY(here_->Categories().Insert(category(QStringLiteral("Meeting")).bytes()));
    ageFile(here_->Users().FileName());
    ageFile(here_->Categories().FileName());
    userLoads_ = 0;
    categoryLoads_ = 0;
}

void tst_QuorlaCache::cleanup()
{
    elsewhere_.reset();
    here_.reset();
    services_.reset();
}

std::unique_ptr<TUserCache> tst_QuorlaCache::userCache()
{
    auto cache = std::make_unique<TUserCache>(here_->Users().FileName());
    cache->OnUpdate = [this](TQuorlaCache& c) {
        ++userLoads_;
        c.FillFrom(here_->Users());
    };
    return cache;
}

std::unique_ptr<TCategoryCache> tst_QuorlaCache::categoryCache()
{
    auto cache = std::make_unique<TCategoryCache>(here_->Categories().FileName());
    cache->OnUpdate = [this](TQuorlaCache& c) {
        ++categoryLoads_;
        c.FillFrom(here_->Categories());
    };
    return cache;
}

void tst_QuorlaCache::loadsOnceWhileNothingChanges()
{
    auto users = userCache();
    auto categories = categoryCache();

    UserRecord u;
    users->Lookup(RecordKey::format(2), u);
    QCOMPARE(u, user(QStringLiteral("BERT")));
    users->Lookup(RecordKey::format(1), u);
    QCOMPARE(u, user(QStringLiteral("ANNA")));
    QCOMPARE(userLoads_, 1);
    QCOMPARE(users->Count(), 2);

    CategoryRecord c;
    categories->Lookup(RecordKey::format(1), c);
    categories->Lookup(RecordKey::format(1), c);
    QCOMPARE(c.Description(), QStringLiteral("Meeting"));
    QCOMPARE(categoryLoads_, 1);
    QCOMPARE(services_->sleepCalls(), 0);
}

void tst_QuorlaCache::changeByAnotherWorkstation_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expectedFullName"); // empty: no longer there

    QTest::newRow("user added") << QStringLiteral("add") << 3 << QStringLiteral("CARL Fullname");
    QTest::newRow("user renamed") << QStringLiteral("rename") << 2 << QStringLiteral("Bert Brown");
    QTest::newRow("user deleted") << QStringLiteral("delete") << 2 << QString();
}

void tst_QuorlaCache::changeByAnotherWorkstation()
{
    QFETCH(QString, change);
    QFETCH(int, key);
    QFETCH(QString, expectedFullName);
    auto cache = userCache();
    UserRecord u;
    cache->Lookup(RecordKey::format(1), u);
    QCOMPARE(userLoads_, 1);

    TXIsamFile& theirUsers = elsewhere_->Users();
    if (change == QLatin1String("add")) {
        QVERIFY(theirUsers.Insert(user(QStringLiteral("CARL")).bytes()));
    } else if (change == QLatin1String("rename")) {
        UserRecord bert = user(QStringLiteral("BERT"));
        bert.setFullName(QStringLiteral("Bert Brown"));
        QVERIFY(theirUsers.Update(bert.bytes(), RecordKey::format(2)));
    } else {
        QVERIFY(theirUsers.Delete(RecordKey::format(2)));
    }

    if (expectedFullName.isEmpty()) {
        QCOMPARE(lookupFailure(*cache, RecordKey::format(key)),
                 QStringLiteral("Unable to locate key (%1) in user cache").arg(RecordKey::format(key)));
    } else {
        cache->Lookup(RecordKey::format(key), u);
        QCOMPARE(u.FullName(), expectedFullName);
    }
    QCOMPARE(userLoads_, 2);
    // The reload replaced everything: ANNA is there once, not twice.
    cache->Lookup(RecordKey::format(1), u);
    QCOMPARE(u.UserName(), QStringLiteral("ANNA"));
    QCOMPARE(cache->Count(), expectedFullName.isEmpty() ? 1 : (change == QLatin1String("add") ? 3 : 2));
}

void tst_QuorlaCache::notFound_data()
{
    QTest::addColumn<bool>("userCache");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty assignee slot") << true << QStringLiteral("0000000000")
                                         << QStringLiteral("Unable to locate key (0000000000) in user cache");
    QTest::newRow("user beyond the last") << true << QStringLiteral("0000000003")
                                          << QStringLiteral("Unable to locate key (0000000003) in user cache");
    QTest::newRow("unpadded key") << true << QStringLiteral("1")
                                  << QStringLiteral("Unable to locate key (1) in user cache");
    QTest::newRow("category") << false << QStringLiteral("0000000042")
                              << QStringLiteral("Unable to locate key (0000000042) in category cache");
}

void tst_QuorlaCache::notFound()
{
    QFETCH(bool, userCache);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    std::unique_ptr<TQuorlaCache> cache;
    if (userCache)
        cache = this->userCache();
    else
        cache = categoryCache();
    QCOMPARE(lookupFailure(*cache, key), expected);
}

void tst_QuorlaCache::duplicateKeyStopsTheLoad()
{
    TUserCache cache(here_->Users().FileName());
    int loads = 0;
    cache.OnUpdate = [&loads](TQuorlaCache& c) {
        ++loads;
        c.AddRecord(RecordKey::format(1), user(QStringLiteral("ANNA")).bytes());
        c.AddRecord(RecordKey::format(2), user(QStringLiteral("BERT")).bytes());
        c.AddRecord(RecordKey::format(1), user(QStringLiteral("CARL")).bytes());
        c.AddRecord(RecordKey::format(3), user(QStringLiteral("DORA")).bytes());
    };

    QCOMPARE(lookupFailure(cache, RecordKey::format(1)),
             QStringLiteral("Unable to add cache entry, possible duplicate key"));
    // What was added before the duplicate stays, unchanged, and with the file
    // unchanged there is no second load.
    QCOMPARE(cache.Count(), 2);
    UserRecord u;
    cache.Lookup(RecordKey::format(1), u);
    QCOMPARE(u.UserName(), QStringLiteral("ANNA"));
    QCOMPARE(lookupFailure(cache, RecordKey::format(3)),
             QStringLiteral("Unable to locate key (0000000003) in user cache"));
    QCOMPARE(loads, 1);
}

void tst_QuorlaCache::loadWithoutLoader()
{
    TCategoryCache cache(here_->Categories().FileName());
    QCOMPARE(lookupFailure(cache, RecordKey::format(1)), QStringLiteral("No event handler to update cache"));
}

void tst_QuorlaCache::keysAddedOutOfOrder()
{
    TCategoryCache cache(here_->Categories().FileName());
    cache.OnUpdate = [](TQuorlaCache& c) {
        for (int key : {5, 1, 9, 3, 7})
            c.AddRecord(RecordKey::format(key), category(QStringLiteral("c%1").arg(key)).bytes());
    };

    CategoryRecord c;
    for (int key : {1, 3, 5, 7, 9}) {
        cache.Lookup(RecordKey::format(key), c);
        QCOMPARE(c.Description(), QStringLiteral("c%1").arg(key));
    }
    for (int key : {0, 2, 4, 6, 8, 10})
        QVERIFY(lookupFailure(cache, RecordKey::format(key)).startsWith(QStringLiteral("Unable to locate key")));
}

void tst_QuorlaCache::missingFile()
{
    TCategoryCache cache(QFileInfo(here_->Categories().FileName()).absolutePath() + QStringLiteral("/QLGone.Ism"));
    int loads = 0;
    cache.OnUpdate = [&loads](TQuorlaCache& c) {
        ++loads;
        c.AddRecord(RecordKey::format(1), category(QStringLiteral("Meeting")).bytes());
    };

    CategoryRecord c;
    cache.Lookup(RecordKey::format(1), c);
    QCOMPARE(services_->sleepCalls(), 5);
    QCOMPARE(services_->sleptMilliseconds(), 500);
    QCOMPARE(loads, 1);

    cache.Lookup(RecordKey::format(1), c);
    QCOMPARE(services_->sleepCalls(), 10);
    QCOMPARE(services_->sleptMilliseconds(), 1000);
    QCOMPARE(loads, 2);
    QCOMPARE(c.Description(), QStringLiteral("Meeting"));
}

void tst_QuorlaCache::fileSignature_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reloads");

    QTest::newRow("time touched, unchanged") << QStringLiteral("same time") << false;
    QTest::newRow("time moved by a microsecond") << QStringLiteral("microsecond") << true;
    QTest::newRow("replaced by a copy with the same time") << QStringLiteral("replaced") << true;
}

// Changes that old two-second directory times, or whole seconds, would miss.
void tst_QuorlaCache::fileSignature()
{
    QFETCH(QString, change);
    QFETCH(bool, reloads);
    const QString path = here_->Users().FileName();
    const QByteArray native = QFile::encodeName(path);
    // A moment with a fraction of a second, so that a move stays in its second.
    const timespec seen[2] = {{1'000'000'000, 500'000'000}, {1'000'000'000, 500'000'000}};
    QVERIFY(::utimensat(AT_FDCWD, native.constData(), seen, 0) == 0);
    auto cache = userCache();
    UserRecord u;
    cache->Lookup(RecordKey::format(1), u);

    if (change == QLatin1String("microsecond")) {
        const timespec moved[2] = {{1'000'000'000, 500'001'000}, {1'000'000'000, 500'001'000}};
        QVERIFY(::utimensat(AT_FDCWD, native.constData(), moved, 0) == 0);
    } else if (change == QLatin1String("replaced")) {
        const QString copy = path + QStringLiteral(".copy");
        QVERIFY(QFile::copy(path, copy));
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(copy).constData(), seen, 0) == 0);
        QVERIFY(::rename(QFile::encodeName(copy).constData(), native.constData()) == 0);
    } else {
        QVERIFY(::utimensat(AT_FDCWD, native.constData(), seen, 0) == 0);
    }

    cache->Lookup(RecordKey::format(1), u);
    QCOMPARE(userLoads_, reloads ? 2 : 1);
}

QUORLA_TEST_CORE_MAIN(tst_QuorlaCache)
#include "tst_quorlacache.moc"
