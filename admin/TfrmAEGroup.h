#pragma once

#include <QDialog>

#include <memory>

class TGroup;
class TQuorlaDB;

namespace Ui {
class TfrmAEGroup;
}

// Edits one group's name and members. The name takes letters and digits only
// (anything else typed is dropped); OK needs a name and 1 to 20 ticked members.
class TfrmAEGroup : public QDialog
{
    Q_OBJECT

public:
    // The most members a group may have: the most users an event may have.
    static constexpr int MaxMembers = 20;

    explicit TfrmAEGroup(QWidget* parent = nullptr);
    ~TfrmAEGroup() override;

    // Shows `group` under `caption` with every user of `database` listed and
    // its members ticked. Returns 1 after OK (the group then holds the name and
    // the ticked users' keys in list order), 2 on Cancel (the group untouched).
    int Execute(TGroup& group, const QString& caption, TQuorlaDB& database);

private:
    void actOkUpdate();
    void actOkExecute();

    std::unique_ptr<Ui::TfrmAEGroup> ui;
    TGroup* group_ = nullptr;
};
