#include "CacheBench.h"

#include "BenchServices.h"
#include "RecordKey.h"
#include "TUserCache.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace {

constexpr int Users = 200;

// Runs `op` for at least 400 ms and three times, and answers runs per second.
double perSecond(const std::function<void()>& op)
{
    QElapsedTimer timer;
    timer.start();
    qint64 runs = 0;
    while (runs < 3 || timer.elapsed() < 400) {
        op();
        ++runs;
    }
    return double(runs) * 1e9 / double(timer.nsecsElapsed());
}

} // namespace

void runCacheBench()
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::printf("cache bench: no temporary folder\n");
        return;
    }
    const QString path = folder.filePath(QStringLiteral("QLUsers.Ism"));
    TXIsamFile users;
    if (!users.CreateDataset(path, 10, UserRecord::Format) || !users.Open(path)) {
        std::printf("cache bench: %s\n", qPrintable(users.ErrorText()));
        return;
    }
    for (int i = 1; i <= Users; ++i) {
        UserRecord r;
        r.setUserName(QStringLiteral("USER%1").arg(i));
        r.setFullName(QStringLiteral("User number %1").arg(i));
        r.setAbbreviation(QStringLiteral("U%1").arg(i));
        users.Insert(r.bytes());
    }

    TUserCache cache(users, BenchServices::running().machine());
    cache.OnUpdate = [&users](TQuorlaCache& c) { c.FillFrom(users); };

    std::printf("lookup caches (%d users)\n", Users);
    int next = 0;
    UserRecord found;
    const double lookups = perSecond([&] {
        cache.Lookup(RecordKey::format(next % Users + 1), found);
        ++next;
    });
    std::printf("  cache lookup (unchanged): %.0f lookups/s\n", lookups);

    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    const double stats = perSecond([&] { ::stat(native.constData(), &st); });
    std::printf("  stat() of the dataset file alone: %.0f calls/s\n", stats);

    const double reloads = perSecond([&] { cache.Reload(); });
    std::printf("  cache reload (%d users): %.0f reloads/s, %.3f ms each\n", Users, reloads, 1000.0 / reloads);
    std::fflush(stdout);
}
