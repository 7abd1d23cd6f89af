#include "TDatabaseLocation.h"

#include <QDir>

namespace {

const QLatin1String SchemeEnd("://");
const QString Hidden = QStringLiteral("***");

} // namespace

TDatabaseLocation::TDatabaseLocation()
    : error_(QStringLiteral("no database folder or URI given"))
{
}

TDatabaseLocation::TDatabaseLocation(const QString& text)
    : text_(text)
{
    if (text.isEmpty()) {
        error_ = QStringLiteral("no database folder or URI given");
    } else if (NamesServer(text)) {
        kind_ = Kind::Server;
        path_ = text;
    } else if (text.contains(SchemeEnd)) {
        error_ = QStringLiteral("'%1' is neither a database folder nor a postgresql:// URI").arg(Printable());
    } else {
        kind_ = Kind::Folder;
        path_ = QDir::cleanPath(QDir::current().absoluteFilePath(text));
        if (!path_.endsWith(QLatin1Char('/')))
            path_ += QLatin1Char('/');
    }
}

QString TDatabaseLocation::StoredText() const
{
    if (IsFolder() && path_.size() > 1)
        return path_.chopped(1);
    return path_;
}

QString TDatabaseLocation::DatasetName(const QString& fileName) const
{
    return IsServer() ? path_ + QLatin1Char('#') + fileName : path_ + fileName;
}

bool TDatabaseLocation::NamesServer(const QString& name)
{
    return name.startsWith(QLatin1String("postgresql://")) || name.startsWith(QLatin1String("postgres://"));
}

QString TDatabaseLocation::Printable(const QString& text)
{
    const qsizetype schemeEnd = text.indexOf(SchemeEnd);
    if (schemeEnd < 0)
        return text;
    QString shown = text;
    // The query's password parameter, then the password of the user
    // information ("user:password@host"), back to front so that positions
    // found stay right.
    const qsizetype query = shown.indexOf(QLatin1Char('?'), schemeEnd);
    if (query >= 0) {
        QStringList parameters = shown.mid(query + 1).split(QLatin1Char('&'));
        for (QString& parameter : parameters)
            if (parameter.startsWith(QLatin1String("password="), Qt::CaseInsensitive))
                parameter = parameter.left(9) + Hidden;
        shown = shown.left(query + 1) + parameters.join(QLatin1Char('&'));
    }
    const qsizetype authority = schemeEnd + SchemeEnd.size();
    qsizetype authorityEnd = shown.size();
    for (QChar end : {QLatin1Char('/'), QLatin1Char('?')}) {
        const qsizetype at = shown.indexOf(end, authority);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const qsizetype at = shown.lastIndexOf(QLatin1Char('@'), authorityEnd - 1);
    if (at >= authority) {
        const qsizetype colon = shown.indexOf(QLatin1Char(':'), authority);
        if (colon >= 0 && colon < at)
            shown.replace(colon + 1, at - colon - 1, Hidden);
    }
    return shown;
}
