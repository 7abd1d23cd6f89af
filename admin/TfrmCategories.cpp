#include "TfrmCategories.h"

#include "ui_TfrmCategories.h"

#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TCategoryCache.h"
#include "TCategoryWriter.h"
#include "THolderNotes.h"
#include "TCommand.h"
#include "TTextLimit.h"
#include "TQuorlaDB.h"
#include "TLookup.h"
#include "TServices.h"
#include "TXIsamFile.h"

#include <QListWidgetItem>

namespace {


const QString Duplicate = QStringLiteral("A category with this description already exists");
const QString ConfirmDelete =
    QStringLiteral("All events with this category will become un-categorised. Are you sure?");
const QString CategoryLocked = QStringLiteral("Unable to update this category. Another user has locked it");

} // namespace

TfrmCategories::TfrmCategories(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmCategories>())
{
    ui_->setupUi(this);
    TTextLimit::Apply(ui_->edtCategory, services_.desktop(), CategoryRecord::DescriptionCapacity);
    connect(ui_->lstCategories, &QListWidget::itemClicked, this, &TfrmCategories::lstCategoriesClick);
    connect(ui_->lstCategories, &QListWidget::currentRowChanged, this, &TfrmCategories::lstCategoriesClick);
    connect(ui_->lstCategories, &QListWidget::itemSelectionChanged, this, &TfrmCategories::CheckCategorySelected);
    connect(ui_->edtCategory, &QLineEdit::textChanged, this, &TfrmCategories::actAddUpdate);
    connect(ui_->actAdd, &QPushButton::clicked, this, &TfrmCategories::actAddExecute);
    connect(ui_->actUpdate, &QPushButton::clicked, this, &TfrmCategories::actUpdateExecute);
    connect(ui_->actDelete, &QPushButton::clicked, this, &TfrmCategories::actDeleteExecute);
    connect(ui_->actClose, &QPushButton::clicked, this, &TfrmCategories::actCloseExecute);
    // Enter keeps what was typed: no button is the default, so it never closes
    // the dialog.
    connect(ui_->edtCategory, &QLineEdit::returnPressed, this, &TfrmCategories::edtCategoryEnter);
    actAddUpdate();
    CheckCategorySelected();
}

TfrmCategories::~TfrmCategories() = default;

int TfrmCategories::Execute(TQuorlaDB& database, TCategoryCache& categoryCache)
{
    database_ = &database;
    categoryCache_ = &categoryCache;

    QListWidget* list = ui_->lstCategories;
    list->clear();
    TXIsamFile& categories = database_->Categories();
    CategoryRecord category;
    TLookup::Each(categories, category.bytes(), [&](const QString& key) {
        auto* item = new QListWidgetItem(category.Description());
        item->setData(Qt::UserRole, RecordKey::parse(key));
        list->addItem(item);
    });
    if (list->count() > 0)
        list->setCurrentRow(0);
    CheckCategorySelected();

    list->setFocus();
    return exec();
}

void TfrmCategories::reject()
{
    // Leaving without Close: the datasets and the cache stay as they are.
    done(2);
}

QString TfrmCategories::selectedKey() const
{
    const QList<QListWidgetItem*> selected = ui_->lstCategories->selectedItems();
    return selected.isEmpty() ? QString() : RecordKey::format(selected.first()->data(Qt::UserRole).toLongLong());
}

void TfrmCategories::lstCategoriesClick()
{
    const QList<QListWidgetItem*> selected = ui_->lstCategories->selectedItems();
    if (!selected.isEmpty())
        ui_->edtCategory->setText(selected.first()->text());
}

void TfrmCategories::actAddUpdate()
{
    ui_->actAdd->setEnabled(!ui_->edtCategory->text().isEmpty());
}

void TfrmCategories::CheckCategorySelected()
{
    const bool selected = !ui_->lstCategories->selectedItems().isEmpty();
    ui_->actDelete->setEnabled(selected);
    ui_->actUpdate->setEnabled(selected);
}

void TfrmCategories::edtCategoryEnter()
{
    // The selected category's name, edited: Rename. With none selected the
    // text is a new category: Add. The loaded name unchanged: nothing to do.
    if (!ui_->actAdd->isEnabled())
        return;
    const QList<QListWidgetItem*> selected = ui_->lstCategories->selectedItems();
    if (selected.isEmpty())
        actAddExecute();
    else if (selected.first()->text() != ui_->edtCategory->text())
        actUpdateExecute();
}

void TfrmCategories::actAddExecute()
{
    TCommand::Run(services_.person(), [this] { addCategory(); });
}

void TfrmCategories::addCategory()
{
    CategoryRecord category;
    const QString key = TCategoryWriter(*database_).addCategory(ui_->edtCategory->text(), category);
    if (key.isEmpty()) {
        services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok, Duplicate);
        return;
    }

    auto* item = new QListWidgetItem(category.Description());
    item->setData(Qt::UserRole, RecordKey::parse(key));
    ui_->lstCategories->addItem(item);
}

void TfrmCategories::actUpdateExecute()
{
    TCommand::Run(services_.person(), [this] { renameCategory(); });
}

void TfrmCategories::renameCategory()
{
    const QString key = selectedKey();
    if (key.isEmpty())
        return;
    CategoryRecord category;
    TCategoryWriter writer(*database_);
    if (!writer.renameCategory(key, ui_->edtCategory->text(), category))
        throw EQuorla(THolderNotes::WithHolder(CategoryLocked, writer.LockHolder()));

    QListWidgetItem* item = ui_->lstCategories->selectedItems().first();
    item->setText(category.Description());
}

void TfrmCategories::actDeleteExecute()
{
    TCommand::Run(services_.person(), [this] { deleteCategory(); });
}

void TfrmCategories::deleteCategory()
{
    const QString key = selectedKey();
    if (key.isEmpty())
        return;
    if (services_.person().message(TPersonServices::MessageKind::Confirmation, TPersonServices::MessageButtons::YesNo,
                                     ConfirmDelete)
        != TPersonServices::MessageAnswer::Yes)
        return;
    {
        const TBusyCursor busy(services_.person());
        TCategoryWriter(*database_).deleteCategory(key);
    }
    {
        // Nothing is selected afterwards and the edit keeps its text.
        const QSignalBlocker quiet(ui_->lstCategories);
        delete ui_->lstCategories->selectedItems().first();
        ui_->lstCategories->setCurrentRow(-1);
        ui_->lstCategories->clearSelection();
    }
    CheckCategorySelected();
}

void TfrmCategories::actCloseExecute()
{
    TCommand::Run(services_.person(), [this] {
        database_->ReopenUsersAndCategories();
        categoryCache_->Reload();
        done(1);
    });
}
