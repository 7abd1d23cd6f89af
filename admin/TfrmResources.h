#pragma once

#include "TResourceStore.h"
#include "TServices.h"

#include <QDialog>

#include <memory>

class TQuorlaDB;

namespace Ui {
class TfrmResources;
}

// The administrator's list of the rooms and other things events book: add
// one (name, a short description, whether it is a room or another resource,
// whether it may be booked), change one, delete one. A resource whose kind
// was never chosen shows the kind guessed for it, and takes the one shown
// when it is changed. Deleting a resource takes its bookings back; the events stay.
// A resource no longer bookable keeps the bookings it has. Created once and
// reused, as the categories dialog is.
class TfrmResources : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmResources(TServices services, QWidget* parent = nullptr);
    ~TfrmResources() override;

    // Lists every resource by name, selects the first and shows the dialog
    // modally. Returns 1 after Close, 2 when closed any other way.
    int Execute(TQuorlaDB& database);

private:
    void fill(const QString& selectKey);
    QString selectedKey() const;
    // The resource as the controls show it, under `key`.
    TResourceStore::TResource shown(const QString& key) const;
    void lstResourcesClick();
    void checkSelected();
    void addResource();
    void changeResource();
    void deleteResource();
    // Tells why the writer refused; false when it did not.
    bool refused(int result);

    TServices services_;
    std::unique_ptr<Ui::TfrmResources> ui_;
    TQuorlaDB* database_ = nullptr;
};
