#pragma once

#include <QStringList>
#include <QWidget>

#include <utility>

class QListWidget;
class TQuorlaDB;

// The event editor's choice of the resources an event books: a list of the
// bookable resources, each ticked when chosen. A resource the event books
// that is no longer bookable is listed too, so that keeping it stays a
// choice. Hidden where the database keeps no resources. Whether they are
// free is the store's to say when the event is saved.
class TResourcePicker : public QWidget
{
    Q_OBJECT

public:
    explicit TResourcePicker(QWidget* parent = nullptr);

    // Lists the resources of `database`, `chosen` ticked.
    void Load(TQuorlaDB& database, const QStringList& chosen);
    // The keys of the resources ticked, in key order.
    QStringList Chosen() const;
    // The resources ticked, key and name, in key order.
    QList<std::pair<QString, QString>> ChosenNamed() const;

signals:
    // A resource was ticked or unticked.
    void changed();

private:
    QListWidget* list_;
};
