#pragma once

#include "TServices.h"

#include <QDialog>
#include <QString>

#include <memory>

class TQuorlaDB;
class TfrmDeletedEvents;

namespace Ui {
class TfrmHistory;
}

// The change trail of one event, in the order the changes were made: who
// added it, changed it, snoozed or switched off its alarms, and when, as far
// as the logged-in user (the database's acting user) may read it
// (TTrailVisibility). An occurrence of a repeating event lists its series'
// records among its own. Opened from the event editor's History button;
// reads only, but for its way to the deleted events (TfrmDeletedEvents).
class TfrmHistory : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmHistory(TServices services, QWidget* parent = nullptr);
    ~TfrmHistory() override;

    // Lists the history of entry `entryKey` of `database` and shows it
    // modally; returns 1 (Close).
    int Execute(TQuorlaDB& database, const QString& entryKey);

private:
    std::unique_ptr<Ui::TfrmHistory> ui;
    TfrmDeletedEvents* deleted_;
    TQuorlaDB* database_ = nullptr;
};
