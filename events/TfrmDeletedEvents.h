#pragma once

#include "TServices.h"
#include "UserRecord.h"

#include <QDialog>
#include <QString>

#include <memory>

class TQuorlaDB;

namespace Ui {
class TfrmDeletedEvents;
}

// "Deleted events": the bin's items (TBin) that the logged-in user (the
// database's acting user) could see when they were deleted, newest first,
// each with who deleted it and when; Restore puts the chosen one back
// (TBinRestore) and says why when it cannot, or which bookings it could not
// make again. Opened from the Event menu and from an event's History.
class TfrmDeletedEvents : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDeletedEvents(TServices services, QWidget* parent = nullptr);
    ~TfrmDeletedEvents() override;

    // Lists the bin of `database` and shows it modally; returns 1 (Close)
    // when nothing was restored, 2 when something was (the views then
    // refresh).
    int Execute(TQuorlaDB& database);

private:
    void fill();
    void btnRestoreClick();
    QString userName(const QString& key);
    // The logged-in user's record, as stored now.
    UserRecord acting();

    TServices services_;
    std::unique_ptr<Ui::TfrmDeletedEvents> ui;
    TQuorlaDB* database_ = nullptr;
    bool restored_ = false;
};
