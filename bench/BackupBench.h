#pragma once

#include <QStringList>

// A backup of a 100,000-entry folder (quorla_backup's TDatabaseBackup) while
// three workstation processes (this program again, as "backup-writer") save
// events: the backup's time, the longest the writers were held up by its
// pause, and the writers' longest command while it ran beside their longest
// before it.
void runBackupBench(const QString& program);
int backupWriterMain(const QStringList& arguments);
