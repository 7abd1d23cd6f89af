#include "TDatabaseOption.h"

#include "TDatabaseLocation.h"
#include "TWorkstationStore.h"

#include <QFileInfo>

QString TDatabaseOption::Refusal(const TDatabaseLocation& location)
{
    if (!location.IsValid())
        return location.Error();
    if (location.IsFolder()) {
        const QFileInfo folder(location.StoredText());
        if (!folder.exists())
            return QStringLiteral("database folder '%1' does not exist").arg(location.StoredText());
        if (!folder.isDir())
            return QStringLiteral("database folder '%1' is not a folder").arg(location.StoredText());
    }
    return QString();
}

bool TDatabaseOption::Record(const TDatabaseLocation& location, QString& error)
{
    TWorkstationStore store;
    if (!store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), location.StoredText())) {
        error = QStringLiteral("cannot record the database in '%1'").arg(store.Location());
        return false;
    }
    return true;
}
