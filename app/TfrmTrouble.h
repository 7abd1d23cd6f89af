#pragma once

#include "TServices.h"

#include <QDialog>

#include <memory>

class TQuorlaDB;
class TStamp;

namespace Ui {
class TfrmTrouble;
}

// A look at the raw shared database for administrators: every alarm and every
// day entry, one line each and in time order, with the user and description
// they point to and "ERR" where such a record does not exist. Records of all
// users are listed, private ones included; nothing is written.
//
// The "Changes" page lists the change trail, latest first, of everybody or
// one user and within two dates when asked: a page of PageSize changes at a
// time, More adding the next, so that it opens at once however long the trail.
// Users who are gone are offered by the names the trail keeps; what a record
// shows is what the logged-in user may read of it (TTrailVisibility).
class TfrmTrouble : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmTrouble(TServices services, QWidget* parent = nullptr);
    ~TfrmTrouble() override;

    // Fills the alarm list from `database`, shows the "Alarms" tab and the
    // dialog modally. Returns 1 (Close) or 2 (the window closed otherwise).
    int Execute(TQuorlaDB& database);

    // Changes listed at once, and added by each More.
    static constexpr int PageSize = 100;

private:
    // Re-reads the list of the tab now showing, so that every switch shows
    // the datasets as they are now.
    void pgTroubleChange();
    void FillAlarms();
    void FillEvents();
    // The changes page from the latest on (`more` false) or the next page.
    void FillChanges(bool more);
    void FillChangeUsers();
    // A record's time key with the stamp's picture; "ERR" for a key that is
    // no time a stamp can hold.
    QString TimeText(const QString& key);

    TServices services_;
    std::unique_ptr<Ui::TfrmTrouble> ui;
    std::unique_ptr<TStamp> Stamp;
    TQuorlaDB* Database = nullptr;
    // Where the changes listed end, to go on from.
    QString ChangesEnd;
};
