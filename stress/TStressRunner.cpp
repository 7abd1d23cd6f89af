#include "TStressRunner.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "ResourceRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TServerRoles.h"
#include "TStressChecker.h"
#include "TStressLog.h"
#include "TWorkstationStore.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long a killed worker's locks may take to come free before it counts as
// a fault: a live worker may hold the same key for a moment.
constexpr int LockWaitMs = 2000;

void say(const QString& text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

QString logName(int user, int incarnation)
{
    return QStringLiteral("worker-%1-%2.log").arg(user, 2, 10, QLatin1Char('0')).arg(incarnation);
}

} // namespace

TStressRunner::TStressRunner(TServices services, QString program, QString folder, QString database, int workers, int seconds,
                             int kills)
    : services_(services), program_(std::move(program)), folder_(std::move(folder)), database_(std::move(database)), workers_(workers),
      seconds_(seconds), kills_(kills)
{
    if (!folder_.endsWith(QLatin1Char('/')))
        folder_ += QLatin1Char('/');
    if (database_.isEmpty())
        database_ = folder_;
}

bool TStressRunner::databaseEmpty(TQuorlaDB& database)
{
    for (TXIsamFile* file : {&database.Users(), &database.Alarms(), &database.Categories(), &database.DayEntries(),
                             database.Series(), database.SeriesLinks()})
        if (!file || file->RecordCount() != 0 || file->NextKey() != RecordKey::format(1)) {
            say(QStringLiteral("%1 is not empty; not touched").arg(TDatabaseLocation::Printable(database_)));
            return false;
        }
    return true;
}

bool TStressRunner::prepareFolder()
{
    QDir dir(folder_);
    // Only a folder this program made (or an empty one) is ever cleared.
    if (dir.exists() && !dir.isEmpty() && !QFile::exists(folder_ + QStringLiteral("stress.marker"))) {
        say(QStringLiteral("%1 is not empty and is no stress folder; not touched").arg(folder_));
        return false;
    }
    dir.removeRecursively();
    if (!QDir().mkpath(folder_ + QStringLiteral("logs")))
        return false;
    QFile marker(folder_ + QStringLiteral("stress.marker"));
    return marker.open(QIODevice::WriteOnly);
}

qint64 TStressRunner::spawn(int user, int incarnation, qint64 until)
{
    const QList<QByteArray> args = {QFile::encodeName(program_),
                                    "worker",
                                    QByteArray::number(user),
                                    QByteArray::number(2 * workers_),
                                    QByteArray::number(until),
                                    QByteArray::number(QRandomGenerator::global()->generate64()),
                                    QFile::encodeName(folder_ + QStringLiteral("logs/") + logName(user, incarnation)),
                                    QFile::encodeName(folder_),
                                    database_.toUtf8()};
    std::vector<char*> argv;
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

qint32 TStressRunner::WorkerRights(int user)
{
    const qint32 plain = UserRecord::CanAddEntries | UserRecord::CanAddEntriesForOthers;
    switch (user % 3) {
    case 1:
        return plain | UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries;
    case 2:
        return plain;
    default:
        return plain | UserRecord::CanModifyOthersEntries;
    }
}

QString TStressRunner::WorkerName(int user)
{
    return QStringLiteral("U%1").arg(user);
}

QString TStressRunner::WorkerPassword(int user)
{
    return QStringLiteral("stress-%1").arg(user);
}

bool TStressRunner::addUsers(TQuorlaDB& database)
{
    TStressLog log(folder_ + QStringLiteral("logs/runner.log"));
    // The workers' own users, then one guest of each worker, which the
    // worker may remove (and replace) while the others assign entries to it.
    QList<std::pair<QString, UserRecord>> made;
    for (int n = 1; n <= 2 * workers_; ++n) {
        UserRecord user;
        user.setUserName(n <= workers_ ? WorkerName(n) : QStringLiteral("G%1-0").arg(n - workers_));
        user.setRights(n <= workers_ ? WorkerRights(n) : UserRecord::CanAddEntriesForOthers | UserRecord::CanAddEntries);
        if (!database.Users().Insert(user.bytes()))
            return false;
        made.append({database.Users().CurrentKey(), user});
        log.write('A', n, "user", 'U', 'I', made.last().first, QByteArray(user.bytes().data(), qsizetype(user.bytes().size())));
    }
    // The rooms the workers book, keys 1 to Rooms: set up beside the run,
    // as the users are, so in no worker's trail.
    for (int n = 1; n <= Rooms; ++n) {
        ResourceRecord room;
        room.setName(QStringLiteral("Room %1").arg(n));
        room.setFlags(ResourceRecord::Bookable);
        if (!database.Resources() || !database.Resources()->Insert(room.bytes()))
            return false;
    }
    if (!TDatabaseLocation(database_).IsServer())
        return true;
    // As the office's administrator sets them up: the roles' set-up, then
    // each user's role, the workers' with a password, the guests' without
    // (nobody logs in as a guest).
    try {
        TServerRoles roles(database);
        roles.Install(QString());
        for (int n = 1; n <= made.size(); ++n) {
            const UserRecord& user = made[n - 1].second;
            roles.Create(user.UserName(), made[n - 1].first, n <= workers_ ? WorkerPassword(n) : QString(),
                         (user.Rights() & UserRecord::CanAdminister) != 0);
        }
    } catch (const EQuorla& e) {
        say(QStringLiteral("the users' server roles: %1").arg(e.message()));
        return false;
    }
    return true;
}

int TStressRunner::run()
{
    if (!prepareFolder())
        return 2;
    {
        TWorkstationStore store;
        store.OpenKey(true);
        store.WriteString(QStringLiteral("RootPath"), database_);
    }
    TQuorlaDB database(services_);
    if (!databaseEmpty(database))
        return 2;
    if (!addUsers(database))
        return 2;

    const qint64 start = TStressLog::now();
    const qint64 until = start + qint64(seconds_) * 1000000000;
    QMap<int, qint64> pids;
    QMap<int, int> incarnation;
    for (int user = 1; user <= workers_; ++user) {
        incarnation[user] = 1;
        pids[user] = spawn(user, 1, until);
    }

    int killed = 0, freeAtOnce = 0, freeLater = 0, stuck = 0, unasked = 0, unexpected = 0;
    QFile kills(folder_ + QStringLiteral("kills.txt"));
    kills.open(QIODevice::WriteOnly | QIODevice::Append);
    QRandomGenerator& random = *QRandomGenerator::global();
    const qint64 interval = kills_ > 0 ? (until - start) / (kills_ + 1) : 0;
    for (int k = 0; k < kills_; ++k) {
        const qint64 at = start + interval * (k + 1) + qint64(random.bounded(interval / 2 + 1)) - interval / 4;
        while (TStressLog::now() < at)
            QThread::usleep(2000);
        if (TStressLog::now() > until - 1000000000)
            break;
        const int user = 1 + int(random.bounded(workers_));
        ::kill(pid_t(pids[user]), SIGKILL);
        int status = 0;
        ::waitpid(pid_t(pids[user]), &status, 0);
        const qint64 died = TStressLog::now();
        const QString name = logName(user, incarnation[user]);
        kills.write(name.toUtf8() + ' ' + QByteArray::number(died) + '\n');
        kills.flush();
        ++killed;
        // The keys the killed worker was writing last: their locks must be
        // free now (a live worker may hold one for a moment).
        QMap<char, QSet<QString>> recent;
        const QList<TStressLog::Line> lines = TStressLog::read(folder_ + QStringLiteral("logs/") + name);
        for (qsizetype i = std::max<qsizetype>(0, lines.size() - 8); i < lines.size(); ++i)
            if (!lines[i].key.isEmpty())
                recent[lines[i].dataset].insert(lines[i].key);
        for (auto it = recent.cbegin(); it != recent.cend(); ++it) {
            TXIsamFile& file = it.key() == 'E' ? database.DayEntries()
                : it.key() == 'A'             ? database.Alarms()
                : it.key() == 'U'             ? database.Users()
                : it.key() == 'S'             ? *database.Series()
                : it.key() == 'L'             ? *database.SeriesLinks()
                                              : database.Categories();
            for (const QString& key : it.value()) {
                int waited = 0;
                bool asked = true;
                while (!file.Lock(key) && waited < LockWaitMs) {
                    // A server out of reach holds no session's locks, and
                    // tells nothing of them.
                    asked = file.LastError() == IsamLocked;
                    if (!asked)
                        break;
                    QThread::msleep(5);
                    waited += 5;
                }
                if (!asked)
                    ++unasked;
                else if (waited >= LockWaitMs)
                    ++stuck;
                else if (waited == 0)
                    ++freeAtOnce;
                else
                    ++freeLater;
                file.Unlock(key);
            }
        }
        pids[user] = spawn(user, ++incarnation[user], until);
    }
    for (auto it = pids.cbegin(); it != pids.cend(); ++it) {
        int status = 0;
        ::waitpid(pid_t(it.value()), &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++unexpected;
            say(QStringLiteral("worker %1 ended with status %2").arg(it.key()).arg(status));
        }
    }
    // Restarted workers must work: each incarnation after a kill that had time
    // left acknowledged writes.
    int restarted = 0, restartedWorking = 0;
    for (auto it = incarnation.cbegin(); it != incarnation.cend(); ++it) {
        for (int n = 2; n <= it.value(); ++n) {
            ++restarted;
            for (const TStressLog::Line& line : TStressLog::read(folder_ + QStringLiteral("logs/") + logName(it.key(), n)))
                if (line.phase == 'A') {
                    ++restartedWorking;
                    break;
                }
        }
    }
    say(QStringLiteral("workers %1, %2 s, kills %3; killed workers' locks: %4 free at once, %5 after a wait, %6 held, "
                       "%7 not asked (the server out of reach)")
            .arg(workers_)
            .arg(seconds_)
            .arg(killed)
            .arg(freeAtOnce)
            .arg(freeLater)
            .arg(stuck)
            .arg(unasked));
    say(QStringLiteral("restarted workers %1, of which acknowledged writes: %2").arg(restarted).arg(restartedWorking));

    TStressChecker checker(services_, folder_, database_);
    const bool held = checker.check();
    return held && stuck == 0 && unexpected == 0 ? 0 : 1;
}
