#pragma once

#include <QDialog>

#include <memory>

class QListWidget;
class TDisplaySettings;

namespace Ui {
class TfrmSelectGroup;
}

// Picks one of the workstation's groups and ticks exactly its members in a
// user check-list of another dialog.
class TfrmSelectGroup : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmSelectGroup(QWidget* parent = nullptr);
    ~TfrmSelectGroup() override;

    // Lists the used group slots of `settings` in slot order. OK is enabled only
    // while a group is selected. Returns 1 after OK, when every entry of
    // `checkList` is ticked exactly when the group holds its key (members that
    // are no longer users are ignored); 2 otherwise, `checkList` untouched.
    int Execute(TDisplaySettings& settings, QListWidget& checkList);

private:
    void btnOkClick();

    std::unique_ptr<Ui::TfrmSelectGroup> ui;
    TDisplaySettings* settings_ = nullptr;
    QListWidget* checkList_ = nullptr;
};
