#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>

// What an event of an imported calendar became, a record of the import map
// dataset ("QLImport.Ism"): the importing user's key followed by the SHA-1 of
// the event's UID in hexadecimal (`Source`, index 1: one record per user and
// UID, whatever the UID's length), what it became (an entry or a series) and
// that record's key. A calendar imported again updates what its events
// became instead of adding them twice.
class ImportRecord : public TRecordBuffer<66>
{
public:
    static constexpr QLatin1StringView FileName{"QLImport.Ism"};
    static constexpr QLatin1StringView Format{"X$*51,&,$*11"};

    // `Kind`: stored codes, never renumber.
    enum class Kind : qint32 { Entry = 1, Series = 2 };

    static constexpr std::size_t SourceOffset = 0;
    static constexpr std::size_t KindOffset = 51;
    static constexpr std::size_t TargetKeyOffset = 55;

    static constexpr qint16 SourceIndex = 1;

    QString Source() const { return text(SourceOffset, 51); }
    void setSource(const QString& source) { setText(SourceOffset, 51, source, "source"); }
    Kind kind() const { return Kind(int32(KindOffset)); }
    void setKind(Kind kind) { setInt32(KindOffset, qint32(kind)); }
    QString TargetKey() const { return text(TargetKeyOffset, 11); }
    void setTargetKey(const QString& key) { setText(TargetKeyOffset, 11, key, "target key"); }
};

static_assert(ImportRecord::TargetKeyOffset + 11 == ImportRecord::Size);
