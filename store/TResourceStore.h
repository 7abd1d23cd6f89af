#pragma once

#include <QList>
#include <QString>

#include <optional>

class TQuorlaDB;

// The rooms and other things events book (ResourceRecord), read. A database
// without the resources dataset has none. Any failed read other than "none
// stored" throws EQuorla with the dataset's error text.
class TResourceStore
{
public:
    // What other calendars are told a resource is (CUTYPE ROOM or RESOURCE).
    // Unset: no administrator ever chose; it is then a room when its name
    // or description has the word "room", as before kinds were kept.
    enum class Kind { Unset, Room, Other };

    struct TResource
    {
        QString key;
        QString name;
        QString description;
        bool bookable = true;
        Kind kind = Kind::Unset;

        // Whether it is a room: by its kind, else by the guess above.
        bool IsRoom() const;
    };

    explicit TResourceStore(TQuorlaDB& database);

    // Whether the database keeps resources at all.
    bool Available() const;
    // Every resource, by name.
    QList<TResource> All();
    // The resource under `key`, or none.
    std::optional<TResource> Find(const QString& key);
    // The resource named `name` exactly, or none.
    std::optional<TResource> Named(const QString& name);

private:
    TQuorlaDB& database_;
};
