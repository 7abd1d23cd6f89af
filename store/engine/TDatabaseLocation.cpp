#include "TDatabaseLocation.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

const QLatin1String SchemeEnd("://");
const QString Hidden = QStringLiteral("***");

// Where `c` first stands in `text` from `from` on; the text's size when
// nowhere.
qsizetype firstOf(const QString& text, QChar c, qsizetype from)
{
    const qsizetype at = text.indexOf(c, from);
    return at < 0 ? text.size() : at;
}

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
    const QList<bool> hidden = passwordMask(text);
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!hidden[i])
            shown += text[i];
        else if (i == 0 || !hidden[i - 1])
            shown += Hidden;
    }
    return shown;
}

QStringList TDatabaseLocation::Passwords(const QString& text)
{
    const QList<bool> hidden = passwordMask(text);
    QStringList passwords;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (hidden[i] && (i == 0 || !hidden[i - 1]))
            passwords.append(QString());
        if (hidden[i])
            passwords.last() += text[i];
    }
    return passwords;
}

QList<bool> TDatabaseLocation::passwordMask(const QString& text)
{
    QList<bool> hidden(text.size(), false);
    const qsizetype schemeEnd = text.indexOf(SchemeEnd);
    if (schemeEnd < 0)
        return hidden;
    const auto hide = [&hidden](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            hidden[i] = true;
    };
    // The user information's password, "user:password@host": libpq ends it
    // at the first "@" before the path (a "?" in it is the password's), a
    // person may mean the last "@" before the path or query; both are hidden.
    const qsizetype authority = schemeEnd + SchemeEnd.size();
    const qsizetype slash = firstOf(text, QLatin1Char('/'), authority);
    const qsizetype beforeQuery = std::min(slash, firstOf(text, QLatin1Char('?'), authority));
    const qsizetype firstAt = firstOf(text, QLatin1Char('@'), authority);
    const qsizetype lastAt = text.lastIndexOf(QLatin1Char('@'), beforeQuery - 1);
    const qsizetype at = std::max(firstAt < slash ? firstAt : -1, lastAt >= authority ? lastAt : -1);
    const qsizetype colon = firstOf(text, QLatin1Char(':'), authority);
    if (at >= 0 && colon < at)
        hide(colon + 1, at);
    // Every query parameter libpq takes for the password: it decodes the
    // name too, so "pass%77ord=" is one.
    static const QRegularExpression parameter(QStringLiteral("[?&]([^=&?]*)=([^&]*)"));
    for (auto it = parameter.globalMatch(text, authority); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (QUrl::fromPercentEncoding(match.captured(1).toUtf8()).compare(QLatin1String("password"), Qt::CaseInsensitive) == 0)
            hide(match.capturedStart(2), match.capturedEnd(2));
    }
    return hidden;
}
