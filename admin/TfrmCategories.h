#pragma once

#include "TServices.h"

#include <QDialog>

#include <memory>

class TCategoryCache;
class TQuorlaDB;

namespace Ui {
class TfrmCategories;
}

// The administrator's list of event categories: add one, rename one, delete
// one. Deleting a category first clears it from every entry that carries it,
// each under the entry's record lock; an entry locked elsewhere stops the
// deletion, the category stays, and Delete can be run again to finish.
// Events refer to a category by key, so a rename shows everywhere at once; a
// rename may give two categories the same description. Enter in the edit
// renames the selected category when its name was edited there, and adds what
// was typed when none is selected; it never closes the dialog. Created once
// and reused.
class TfrmCategories : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmCategories(TServices services, QWidget* parent = nullptr);
    ~TfrmCategories() override;

    // Lists every category (an empty list is allowed), selects the first and
    // shows the dialog modally. Returns 1 after Close, which reopens the users
    // and categories datasets and reloads `categoryCache`; 2 when closed any
    // other way, which reloads nothing.
    int Execute(TQuorlaDB& database, TCategoryCache& categoryCache);

public slots:
    void reject() override;

private slots:
    void lstCategoriesClick();
    void actAddUpdate();
    void CheckCategorySelected();
    void edtCategoryEnter();
    void actAddExecute();
    void actUpdateExecute();
    void actDeleteExecute();
    void actCloseExecute();

private:
    QString selectedKey() const;
    void addCategory();
    void renameCategory();
    void deleteCategory();

    TServices services_;
    std::unique_ptr<Ui::TfrmCategories> ui_;
    TQuorlaDB* database_ = nullptr;
    TCategoryCache* categoryCache_ = nullptr;
};
