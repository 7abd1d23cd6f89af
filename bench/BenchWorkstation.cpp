#include "BenchWorkstation.h"

#include "BenchBulkLoad.h"
#include "TSession.h"
#include "TWorkstationStore.h"
#include "UserRecord.h"

#include <QFile>

BenchWorkstation::BenchWorkstation(const QString& folder)
    : oldTemp_(qgetenv("TMPDIR"))
{
    check(temporary_.isValid(), "temporary folder");
    qputenv("TMPDIR", QFile::encodeName(temporary_.path()));
    TWorkstationStore store;
    check(store.OpenKey(true) && store.WriteString(QStringLiteral("RootPath"), folder), "workstation");
}

BenchWorkstation::~BenchWorkstation()
{
    if (oldTemp_.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTemp_);
}

void addBenchUsers(const QString& folder, int count)
{
    TXIsamFile users;
    const QString path = folder + QLatin1Char('/') + QString(UserRecord::FileName);
    check(users.CreateDataset(path, 10, QString(UserRecord::Format)) && users.Open(path), "users");
    for (int i = 1; i <= count; ++i) {
        UserRecord u;
        u.setUserName(QStringLiteral("USER%1").arg(i));
        u.setFullName(QStringLiteral("User number %1").arg(i));
        u.setAbbreviation(QStringLiteral("U%1").arg(i));
        check(users.Insert(u.bytes()), "user added");
    }
}

void startBenchSession(TSession& session)
{
    const auto login = [](const TSession::TCheck& check, UserRecord& user, QString& userKey) {
        return check(QStringLiteral("USER1"), QString(), user, userKey) == TSession::Verdict::LoggedIn;
    };
    check(session.StartUp(login, [](const TQuorlaCfg&) {}, [](const QString&) {}) == TSession::Start::Running,
          "log-in");
}
