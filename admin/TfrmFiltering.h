#pragma once

#include <QDialog>

#include <memory>

class QListWidgetItem;
class TFilterRules;
class TDisplaySettings;
class TQuorlaDB;
class TfrmSelectGroup;

namespace Ui {
class TfrmFiltering;
}

// Chooses which day entries the calendar views show: all, those assigned to
// the logged-in user, those assigned to any of the ticked users, or those that
// book the resource chosen. It edits
// the main window's filter rules only; nothing is stored, so the choice lasts
// until the program ends.
class TfrmFiltering : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmFiltering(QWidget* parent = nullptr);
    ~TfrmFiltering() override;

    // Lists every user of `database` and shows `rules`: its mode, and in mode 2
    // its users ticked (in the other modes nothing is ticked). Returns 1 after
    // OK, `rules` then holding the choice (in mode 2 exactly the ticked users
    // that still exist, in list order); 2 after Cancel, `rules` untouched. The
    // group button ticks the members of one of `settings`' groups.
    int Execute(TDisplaySettings& settings, TQuorlaDB& database, TFilterRules& rules);

private:
    // Every resource by name, the rules' own selected; its choice disabled
    // while there is none.
    void fillResources(TQuorlaDB& database, const TFilterRules& rules);
    void lstUsersClickCheck(QListWidgetItem* item);
    void btnGroupClick();
    void btnOkClick();

    std::unique_ptr<Ui::TfrmFiltering> ui;
    TfrmSelectGroup* selectGroup_;
    TDisplaySettings* Settings = nullptr;
    TFilterRules* Rules = nullptr;
};
