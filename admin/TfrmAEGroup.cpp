#include "TfrmAEGroup.h"
#include "ui_TfrmAEGroup.h"

#include "TGroup.h"
#include "TQuorlaDB.h"
#include "TUserCheckList.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

TfrmAEGroup::TfrmAEGroup(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmAEGroup>())
{
    ui->setupUi(this);
    // A keystroke the validator refuses never reaches the text.
    ui->edtDescription->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9]*")), this));
    connect(ui->btnOk, &QPushButton::clicked, ui->actOk, &QAction::trigger);
    connect(ui->actOk, &QAction::triggered, this, &TfrmAEGroup::actOkExecute);
    connect(ui->actOk, &QAction::changed, this, [this] { ui->btnOk->setEnabled(ui->actOk->isEnabled()); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { done(2); });
    connect(ui->edtDescription, &QLineEdit::textChanged, this, &TfrmAEGroup::actOkUpdate);
    connect(ui->lstMembers, &QListWidget::itemChanged, this, &TfrmAEGroup::actOkUpdate);
}

TfrmAEGroup::~TfrmAEGroup() = default;

int TfrmAEGroup::Execute(TGroup& group, const QString& caption, TQuorlaDB& database)
{
    group_ = &group;
    setWindowTitle(caption);
    ui->edtDescription->setText(group.Name);
    TUserCheckList::Fill(*ui->lstMembers, database.Users());
    for (int row = 0; row < ui->lstMembers->count(); ++row) {
        QListWidgetItem* item = ui->lstMembers->item(row);
        item->setCheckState(group.Contains(TUserCheckList::Key(*item)) ? Qt::Checked : Qt::Unchecked);
    }
    actOkUpdate();
    ui->edtDescription->setFocus();
    const int result = exec();
    group_ = nullptr;
    return result == 1 ? 1 : 2;
}

void TfrmAEGroup::actOkUpdate()
{
    const int members = TUserCheckList::TickedCount(*ui->lstMembers);
    ui->actOk->setEnabled(!ui->edtDescription->text().isEmpty() && members >= 1 && members <= MaxMembers);
}

void TfrmAEGroup::actOkExecute()
{
    if (!ui->actOk->isEnabled())
        return;
    group_->Name = ui->edtDescription->text();
    group_->Clear();
    for (int row = 0; row < ui->lstMembers->count(); ++row) {
        const QListWidgetItem& item = *ui->lstMembers->item(row);
        if (TUserCheckList::Ticked(item))
            group_->Add(TUserCheckList::Key(item));
    }
    done(1);
}
