#pragma once

#include "TRecordBuffer.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>

// A record of the bin ("QLBin.Ism"), which keeps what a deletion removed so
// that it can be put back. One deletion of one entry or series is an item;
// each record of the item holds one record that was removed (`Body`: its
// bytes, as stored, in base64), which dataset it came from (`Dataset`) and
// the key it had there (`Key`), so that a restore puts it back under that
// same key (keys are never used again).
//
// Every record of an item repeats the item's head fields: `Item` (index 1:
// the item's records one look-up), when and by whom it was deleted
// (`DeletedAt`, index 4: the oldest items first for the retention's sweep),
// and who may see it by the views' rule - its private flag (in `Flags`),
// owner and assignees, as the entry (or the series' template) had them -
// so that a server's row policy tests each row's own columns. The first
// record of an item is its head (Head in `Flags`): the entry, or the series.
class BinRecord : public TRecordBuffer<1183>
{
public:
    static constexpr QLatin1StringView FileName{"QLBin.Ism"};
    static constexpr QLatin1StringView Format{"X$*12,$*2,$*11,X$*11,$*11,&,$*11,R20$*11,$*901"};

    // Bits of `Flags`: the item's own (as its entry's), and the head's mark.
    static constexpr qint32 UnTimed = 1;
    static constexpr qint32 Private = 2;
    static constexpr qint32 Head = 256;

    // What `Dataset` names.
    static constexpr QLatin1Char EntryData{'D'};
    static constexpr QLatin1Char AlarmData{'A'};
    static constexpr QLatin1Char SeriesData{'S'};
    static constexpr QLatin1Char LinkData{'L'};
    static constexpr QLatin1Char DetailData{'T'};
    // A booking of a resource (BookingRecord): a restore books it again,
    // under a new key, where its resource is still free.
    static constexpr QLatin1Char BookingData{'B'};

    // What an item is: an entry ("E" and its key), a whole series ("S"), or
    // the occurrences of a series from a day on ("F": the series stays).
    static constexpr QLatin1Char EntryItem{'E'};
    static constexpr QLatin1Char SeriesItem{'S'};
    static constexpr QLatin1Char FollowingItem{'F'};

    static constexpr std::size_t ItemOffset = 0;
    static constexpr std::size_t DatasetOffset = 12;
    static constexpr std::size_t KeyOffset = 14;
    static constexpr std::size_t DeletedAtOffset = 25;
    static constexpr std::size_t DeletedByOffset = 36;
    static constexpr std::size_t FlagsOffset = 47;
    static constexpr std::size_t OwnerKeyOffset = 51;
    static constexpr std::size_t AssigneesOffset = 62;
    static constexpr std::size_t AssigneeWidth = 11;
    static constexpr int MaxAssignees = 20;
    static constexpr std::size_t BodyOffset = 282;
    static constexpr std::size_t BodyWidth = 901;

    static constexpr qint16 ItemIndex = 1;
    static constexpr qint16 DeletedAtIndex = 4;

    static QString item(QLatin1Char kind, const QString& key) { return kind + key; }

    QString Item() const { return text(ItemOffset, 12); }
    void setItem(const QString& value) { setText(ItemOffset, 12, value, "bin item"); }
    QChar Kind() const { return Item().isEmpty() ? QChar() : Item().at(0); }
    QString ItemKey() const { return Item().mid(1); }
    QChar Dataset() const;
    void setDataset(QLatin1Char which) { setText(DatasetOffset, 2, QString(which), "bin dataset"); }
    QString Key() const { return text(KeyOffset, 11); }
    void setKey(const QString& key) { setText(KeyOffset, 11, key, "bin key"); }
    QString DeletedAt() const { return text(DeletedAtOffset, 11); }
    void setDeletedAt(const QString& key) { setText(DeletedAtOffset, 11, key, "deleted at"); }
    QString DeletedBy() const { return text(DeletedByOffset, 11); }
    void setDeletedBy(const QString& key) { setText(DeletedByOffset, 11, key, "deleted by"); }
    qint32 Flags() const { return int32(FlagsOffset); }
    void setFlags(qint32 flags) { setInt32(FlagsOffset, flags); }
    QString OwnerKey() const { return text(OwnerKeyOffset, 11); }
    void setOwnerKey(const QString& key) { setText(OwnerKeyOffset, 11, key, "owner key"); }
    QStringList AssigneeKeys() const;
    void setAssigneeKeys(const QStringList& keys);

    // The removed record's bytes.
    QByteArray Body() const { return QByteArray::fromBase64(text(BodyOffset, BodyWidth).toLatin1()); }
    void setBody(const QByteArray& bytes);
};

static_assert(BinRecord::BodyOffset + BinRecord::BodyWidth == BinRecord::Size);
