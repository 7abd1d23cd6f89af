#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// A folder of backups, one folder each, named "quorla-" and the moment it was
// taken in UTC ("quorla-20261208-021500"), so that name order is age order.
// Nothing else in the folder is touched, except the ".partial" folders a
// backup that was cut short left behind.
class TBackupGenerations
{
public:
    explicit TBackupGenerations(QString folder);

    // The folder for a backup taken at `moment`: a name not yet taken.
    QString Next(const QDateTime& moment) const;
    // The backups there, oldest first.
    QStringList List() const;
    // Removes all but the newest `keep` backups, and every partial one;
    // answers the folders removed.
    QStringList Prune(int keep) const;

private:
    QString folder_;
};
