#include "TResourcePicker.h"

#include "TResourceStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>

#include <algorithm>

TResourcePicker::TResourcePicker(QWidget* parent) : QWidget(parent), list_(new QListWidget(this))
{
    setObjectName(QStringLiteral("resourcePicker"));
    list_->setObjectName(QStringLiteral("lstResources"));
    list_->setToolTip(QStringLiteral("The rooms and other things the event books for its time"));
    list_->setFlow(QListView::LeftToRight);
    list_->setWrapping(true);
    list_->setMaximumHeight(list_->fontMetrics().height() * 3);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("&Resources:"), this);
    label->setBuddy(list_);
    layout->addWidget(label);
    layout->addWidget(list_, 1);
    connect(list_, &QListWidget::itemChanged, this, &TResourcePicker::changed);
}

void TResourcePicker::Load(TQuorlaDB& database, const QStringList& chosen)
{
    list_->clear();
    TResourceStore store(database);
    setVisible(store.Available());
    for (const TResourceStore::TResource& resource : store.All()) {
        const bool ticked = chosen.contains(resource.key);
        if (!resource.bookable && !ticked)
            continue;
        auto* item = new QListWidgetItem(resource.name, list_);
        item->setData(Qt::UserRole, resource.key);
        item->setToolTip(resource.description);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

QStringList TResourcePicker::Chosen() const
{
    QStringList keys;
    for (int row = 0; row < list_->count(); ++row)
        if (list_->item(row)->checkState() == Qt::Checked)
            keys << list_->item(row)->data(Qt::UserRole).toString();
    keys.sort();
    return keys;
}

QList<std::pair<QString, QString>> TResourcePicker::ChosenNamed() const
{
    QList<std::pair<QString, QString>> chosen;
    for (int row = 0; row < list_->count(); ++row)
        if (list_->item(row)->checkState() == Qt::Checked)
            chosen.append({list_->item(row)->data(Qt::UserRole).toString(), list_->item(row)->text()});
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}
