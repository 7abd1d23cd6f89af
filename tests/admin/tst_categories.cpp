// The categories dialog: Enter renames or adds, the duplicate refusal, a
// rename to an existing description seen through the cache, and a deletion
// that finishes on a second run after a lock elsewhere stopped it.
// Categories: Meeting (key 1) and Travel (key 2).

#include "AdminTestSupport.h"
#include "QuorlaTest.h"

#include "CategoryRecord.h"
#include "TCategoryCache.h"
#include "TLookup.h"
#include "TScriptedServices.h"
#include "TfrmCategories.h"

#include <QLineEdit>
#include <QListWidget>

using namespace AdminTest;

namespace {
const QString Meeting = RecordKey::format(1);
const QString Confirm = QStringLiteral("All events with this category will become un-categorised. Are you sure?");

QStringList listed(QWidget& d)
{
    QStringList texts;
    for (auto* item : d.findChild<QListWidget*>("lstCategories")->findItems("*", Qt::MatchWildcard)) texts << item->text();
    return texts;
}

void selectAndType(QWidget& d, int row, const QString& text)
{
    auto* list = child<QListWidget>(&d, "lstCategories");
    list->setCurrentRow(row);
    if (row < 0)
        list->clearSelection();
    child<QLineEdit>(&d, "edtCategory")->setText(text);
}

} // namespace

class tst_Categories : public QObject
{
    Q_OBJECT
private:
    int run(const std::function<void(TfrmCategories&)>& script)
    {
        TfrmCategories dialog(TScriptedServices::ofTest());
        return AdminTest::run(dialog, script, *db_, *cache_);
    }

    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db_;
    std::unique_ptr<TCategoryCache> cache_;

private slots:
    void cleanup() { cache_.reset(); db_.reset(); services_.reset(); }
    void init()
    {
        services_ = std::make_unique<TScriptedServices>();
        db_ = database(QString::fromLatin1(QTest::currentTestFunction()));
        cache_ = std::make_unique<TCategoryCache>(db_->Categories(), TScriptedServices::ofTest().machine());
        cache_->OnUpdate = [this](TQuorlaCache& c) { c.FillFrom(db_->Categories()); };
        for (const char* text : {"Meeting", "Travel"}) {
            CategoryRecord c;
            c.setDescription(QString::fromLatin1(text));
            db_->Categories().Insert(c.bytes());
        }
    }

    // Enter renames the selected category when its name was edited, adds
    // what was typed when none is selected (refusing a taken description), and
    // does nothing to an unchanged name; the dialog stays open, and after
    // Close the cache shows what was stored.
    void enterRenamesOrAdds_data()
    {
        QTest::addColumn<int>("row"); // -1: none selected
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected"); // as the sorted list shows them
        QTest::newRow("selected, name edited: rename") << 0 << "Meetings" << QStringList{"Meetings", "Travel"};
        QTest::newRow("selected, renamed to a taken name: accepted") << 0 << "Travel" << QStringList{"Travel", "Travel"};
        QTest::newRow("none selected: add") << -1 << "Holiday" << QStringList{"Holiday", "Meeting", "Travel"};
        QTest::newRow("none selected, taken: refused") << -1 << "Travel" << QStringList{"Meeting", "Travel"};
        QTest::newRow("selected, unchanged: nothing") << 1 << "Travel" << QStringList{"Meeting", "Travel"};
    }
    void enterRenamesOrAdds()
    {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        if (QTest::currentDataTag() == QByteArray("none selected, taken: refused"))
            services_->expectMessage(Kind::Information, QStringLiteral("A category with this description already exists"), Answer::Ok);
        CategoryRecord c;
        cache_->Lookup(Meeting, c); // loaded before the dialog changes anything
        QStringList shown;
        run([&](TfrmCategories& d) {
            selectAndType(d, row, typed);
            QTest::keyClick(child<QLineEdit>(&d, "edtCategory"), Qt::Key_Return);
            QVERIFY(d.isVisible());
            shown = listed(d);
        });
        QCOMPARE(shown, expected);
        QStringList stored;
        TLookup::Each(db_->Categories(), c.bytes(), [&](const QString&) { stored << c.Description(); });
        stored.sort();
        QCOMPARE(stored, expected);
        cache_->Lookup(Meeting, c);
        QCOMPARE(c.Description(), row == 0 ? typed : QStringLiteral("Meeting"));
    }

    // A lock elsewhere stops the deletion with the error box, the list as it
    // was; a second Delete finishes it and leaves nothing selected.
    void deleteFinishesAfterALock()
    {
        const QString held = addEntry(*db_, 2, {2}, 1);
        auto elsewhere = database();
        QVERIFY(elsewhere->DayEntries().Lock(held));
        services_->expectMessage(Kind::Confirmation, Confirm, Answer::Yes);
        services_->expectMessage(Kind::Error, QStringLiteral("Unable to complete deletion. Another user has locked the database"), Answer::Ok);
        services_->expectMessage(Kind::Confirmation, Confirm, Answer::Yes);
        QStringList whileLocked, afterDelete;
        QList<bool> buttons;
        run([&](TfrmCategories& d) {
            selectAndType(d, 0, QStringLiteral("Meeting"));
            click(&d, "actDelete");
            whileLocked = listed(d);
            elsewhere->DayEntries().Unlock(held);
            click(&d, "actDelete");
            afterDelete = listed(d);
            buttons = {child<QPushButton>(&d, "actDelete")->isEnabled(), child<QPushButton>(&d, "actUpdate")->isEnabled()};
        });
        QCOMPARE(whileLocked, (QStringList{"Meeting", "Travel"}));
        QCOMPARE(afterDelete, QStringList{"Travel"});
        QCOMPARE(buttons, QList({false, false}));
        QVERIFY(stored<CategoryRecord>(db_->Categories(), Meeting).isEmpty());
        QCOMPARE(read<DayEntryRecord>(db_->DayEntries(), held).CategoryKey(), RecordKey::None);
        QCOMPARE(services_->busyDepth(), 0);
    }
};

QUORLA_TEST_GUI_MAIN(tst_Categories)
#include "tst_categories.moc"
