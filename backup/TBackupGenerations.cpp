#include "TBackupGenerations.h"

#include <QDir>
#include <QRegularExpression>

namespace {

const QRegularExpression Generation(QStringLiteral("^quorla-\\d{8}-\\d{6}(-\\d+)?$"));
const QRegularExpression Partial(QStringLiteral("^quorla-\\d{8}-\\d{6}(-\\d+)?\\.partial$"));

QStringList namesLike(const QString& folder, const QRegularExpression& pattern)
{
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return names.filter(pattern);
}

} // namespace

TBackupGenerations::TBackupGenerations(QString folder)
    : folder_(std::move(folder))
{
}

QString TBackupGenerations::Next(const QDateTime& moment) const
{
    const QString base = QStringLiteral("quorla-") + moment.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QDir dir(folder_);
    QString name = base;
    for (int n = 2; dir.exists(name) || dir.exists(name + QStringLiteral(".partial")); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return dir.filePath(name);
}

QStringList TBackupGenerations::List() const
{
    // "-2" after the same second sorts after the plain name, as it should;
    // the tenth in one second would not, which no schedule comes near.
    return namesLike(folder_, Generation);
}

QStringList TBackupGenerations::Prune(int keep) const
{
    QStringList gone = namesLike(folder_, Partial);
    const QStringList kept = List();
    gone += kept.first(std::max<qsizetype>(0, kept.size() - keep));
    for (const QString& name : std::as_const(gone))
        QDir(QDir(folder_).filePath(name)).removeRecursively();
    return gone;
}
