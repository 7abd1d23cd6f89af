#pragma once

#include "TServices.h"

#include <QDialog>

#include <memory>

class QMenu;
class QPoint;
class TDisplaySettings;
class TQuorlaDB;
class TfrmAEGroup;

namespace Ui {
class TfrmGroups;
}

// Lists the workstation's groups and adds, edits and deletes them in the
// settings object's ten slots.
class TfrmGroups : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmGroups(TServices services, QWidget* parent = nullptr);
    ~TfrmGroups() override;

    // Lists the used slots of `settings` by name and shows the dialog; the
    // group editor reads its users from `database`. Returns 1 (Close) or 2.
    int Execute(TDisplaySettings& settings, TQuorlaDB& database);

private:
    void actNewExecute();
    void actPropertiesExecute();
    void actDeleteExecute();
    void lstGroupsContextMenu(const QPoint& pos);
    void updateActions();
    int selectedSlot() const;

    TServices services_;
    std::unique_ptr<Ui::TfrmGroups> ui;
    TfrmAEGroup* aeGroup_;
    QMenu* popup_;
    TDisplaySettings* settings_ = nullptr;
    TQuorlaDB* database_ = nullptr;
};
