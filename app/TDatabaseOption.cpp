#include "TDatabaseOption.h"

#include "TWorkstationStore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

bool TDatabaseOption::IsUri(const QString& text)
{
    static const QRegularExpression uri(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return uri.match(text).hasMatch();
}

bool TDatabaseOption::Record(const QString& given, QString& error)
{
    QString value = given;
    if (given.isEmpty()) {
        error = QStringLiteral("no database folder or URI given");
        return false;
    }
    if (!IsUri(given)) {
        const QFileInfo folder(given);
        if (!folder.exists()) {
            error = QStringLiteral("database folder '%1' does not exist").arg(given);
            return false;
        }
        if (!folder.isDir()) {
            error = QStringLiteral("database folder '%1' is not a folder").arg(given);
            return false;
        }
        value = QDir(given).absolutePath();
    }

    TWorkstationStore store;
    if (!store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), value)) {
        error = QStringLiteral("cannot record the database in '%1'").arg(store.Location());
        return false;
    }
    return true;
}
