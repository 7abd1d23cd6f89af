#include "TDetailsStore.h"

TDetailsStore::TDetailsStore(TQuorlaDB& database) : database_(database) {}

TEntryDetails TDetailsStore::Entry(const QString&)
{
    return {};
}

TEntryDetails TDetailsStore::Series(const QString&)
{
    return {};
}

QHash<QString, TEntryDetails> TDetailsStore::Entries(const QStringList&, bool)
{
    return {};
}

QStringList TDetailsStore::ReachingInto(const QDate&, const QDate&)
{
    return {};
}
