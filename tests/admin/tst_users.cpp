// The users dialog: upper-case names, the flags' bits, refusals that write
// nothing, loading the user clicked, Enter, and the user cache reloaded on
// Close. ANNA (key 1, logged in), BERT 2 and CARL 3 exist.

#include "AdminTestSupport.h"
#include "QuorlaTest.h"

#include "TScriptedServices.h"
#include "TUserCache.h"
#include "TfrmUsers.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QToolTip>

using namespace AdminTest;

namespace {
const QString NameTaken = QStringLiteral("A user with this username already exists. Please choose another username.");

// Types `text` key by key, accented letters included, as a keyboard would.
void type(QWidget& d, const char* name, const QString& text)
{
    QLineEdit* edit = child<QLineEdit>(&d, name);
    edit->clear();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}
} // namespace

class tst_Users : public QObject
{
    Q_OBJECT
private:
    int run(const std::function<void(TfrmUsers&)>& script)
    {
        TfrmUsers dialog(TScriptedServices::ofTest());
        return AdminTest::run(dialog, script, RecordKey::format(1), *db_, *cache_);
    }

    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db_;
    std::unique_ptr<TUserCache> cache_;

private slots:
    void cleanup() { cache_.reset(); db_.reset(); services_.reset(); }
    void init()
    {
        services_ = std::make_unique<TScriptedServices>();
        db_ = database(QStringLiteral("users"));
        addUsers(*db_, {"ANNA", "BERT", "CARL"});
        cache_ = std::make_unique<TUserCache>(db_->Users(), TScriptedServices::ofTest().machine());
        cache_->OnUpdate = [this](TQuorlaCache& c) { c.FillFrom(db_->Users()); };
        cache_->Reload();
    }

    // Flag positions: "Can administer", "Can add entries", "Can modify other users
    // entries", "Can add entries for other users".
    void updateSelected_data()
    {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<int>("rights");
        QTest::newRow("administer, modify others") << QList{0, 2} << 6;
        QTest::newRow("add entries, add for others") << QList{1, 3} << 9;
    }

    void updateSelected()
    {
        QFETCH(QList<int>, ticked);
        run([&](TfrmUsers& d) {
            child<QListWidget>(&d, "lstUsers")->setCurrentRow(1);
            type(d, "edtPassword", QStringLiteral("pw"));
            type(d, "edtFullname", QStringLiteral("Bert Brown"));
            type(d, "edtAbbreviation", QStringLiteral("BB"));
            for (int row : ticked)
                child<QListWidget>(&d, "lstFlags")->item(row)->setCheckState(Qt::Checked);
            click(&d, "actUpdate");
        });
        const auto bert = read<UserRecord>(db_->Users(), RecordKey::format(2));
        QCOMPARE(QStringList({bert.UserName(), bert.Password(), bert.FullName(), bert.Abbreviation()}),
                 QStringList({"BERT", "PW", "Bert Brown", "BB"}));
        QTEST(bert.Rights(), "rights");
    }

    void refusedWritesNothing_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("changedElsewhere"); // after the dialog loaded him
        QTest::newRow("add an existing name typed in lower case")
            << 2 << "bert" << QByteArray("actAdd") << NameTaken << false;
        QTest::newRow("update to another user's name") << 1 << "ANNA" << QByteArray("actUpdate") << NameTaken << false;
        QTest::newRow("remove oneself") << 0 << "ANNA" << QByteArray("actDelete")
            << QStringLiteral("You cannot delete the user you are logged on as") << false;
        QTest::newRow("update over a change made elsewhere")
            << 1 << "BERT" << QByteArray("actUpdate")
            << QStringLiteral("Unable to update this user. Another user has changed it") << true;
    }

    void refusedWritesNothing()
    {
        QFETCH(int, row);
        QFETCH(QString, userName);
        QFETCH(QByteArray, button);
        QFETCH(QString, message);
        QFETCH(bool, changedElsewhere);
        const QString key = RecordKey::format(row + 1);
        QByteArray before = stored<UserRecord>(db_->Users(), key);
        services_->expectMessage(changedElsewhere ? Kind::Error : Kind::Information, message, Answer::Ok);
        QString shownAfter;
        run([&](TfrmUsers& d) {
            child<QListWidget>(&d, "lstUsers")->setCurrentRow(row);
            if (changedElsewhere) {
                TQuorlaDB elsewhere(TScriptedServices::ofTest());
                auto user = read<UserRecord>(elsewhere.Users(), key);
                user.setAbbreviation(QStringLiteral("XX"));
                QVERIFY(elsewhere.Users().Update(user.bytes(), key));
                before = stored<UserRecord>(elsewhere.Users(), key);
            }
            type(d, "edtUserName", userName);
            type(d, "edtFullname", QStringLiteral("Changed"));
            click(&d, button.constData());
            shownAfter = child<QLineEdit>(&d, "edtAbbreviation")->text();
        });
        QCOMPARE(stored<UserRecord>(db_->Users(), key), before);
        // Refused over a change made elsewhere, the dialog shows him as he is now.
        if (changedElsewhere)
            QCOMPARE(shownAfter, QStringLiteral("XX"));
        QCOMPARE(db_->Users().RecordCount(), 3);
    }

    // What is typed stops at the field's capacity in bytes, so what is saved
    // is what the dialog shows; each refused key beeps and the hint beside the
    // field says why.
    void typedTextFits_data()
    {
        QTest::addColumn<QByteArray>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("refused");
        QTest::addColumn<int>("capacity");
        QTest::newRow("ß grows when upper-cased") << QByteArray("edtUserName") << "ßßßßßß" << "SSSSSSSSSS" << 1 << 10;
        QTest::newRow("full name of accents") << QByteArray("edtFullname") << QString(20, u'é') << QString(15, u'é')
                                              << 5 << UserRecord::FullNameCapacity;
    }
    void typedTextFits()
    {
        QFETCH(QByteArray, edit);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, capacity);
        QString saved;
        run([&](TfrmUsers& d) {
            type(d, "edtUserName", QStringLiteral("NEW"));
            type(d, edit.constData(), typed);
            QCOMPARE(child<QLineEdit>(&d, edit.constData())->text(), shown);
            QTEST(services_->beeps(), "refused");
            QCOMPARE(QToolTip::text(),
                     QStringLiteral("This field is full: it holds %1 plain letters, fewer with accents").arg(capacity));
            click(&d, "actAdd");
        });
        const auto added = read<UserRecord>(db_->Users(), RecordKey::format(4));
        QCOMPARE(edit == "edtUserName" ? added.UserName() : added.FullName(), shown);
    }

    // A click loads the user clicked, the one already selected too, throwing
    // away what was typed over him. Enter in a field adds a user under a new
    // name, or updates the loaded user; it never closes the dialog. The list
    // and the fields then show the same user. Close reloads the cache.
    void clickLoadsEnterWrites()
    {
        QStringList seen;
        const int result = run([&](TfrmUsers& d) {
            auto* list = child<QListWidget>(&d, "lstUsers");
            list->setCurrentRow(1);
            type(d, "edtFullname", QStringLiteral("typed over"));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
            seen << child<QLineEdit>(&d, "edtFullname")->text();
            type(d, "edtUserName", QStringLiteral("dora"));
            type(d, "edtPassword", QStringLiteral("secret"));
            QTest::keyClick(child<QLineEdit>(&d, "edtPassword"), Qt::Key_Return);
            type(d, "edtAbbreviation", QStringLiteral("DD"));
            QTest::keyClick(child<QLineEdit>(&d, "edtAbbreviation"), Qt::Key_Return);
            seen << list->currentItem()->text() << child<QLineEdit>(&d, "edtUserName")->text();
            QVERIFY(d.isVisible());
        });
        const auto dora = read<UserRecord>(db_->Users(), RecordKey::format(4));
        QCOMPARE(seen, QStringList({"BERT Full", "DORA", "DORA"}));
        QCOMPARE(QStringList({dora.UserName(), dora.Password(), dora.Abbreviation()}), QStringList({"DORA", "SECRET", "DD"}));
        QCOMPARE(read<UserRecord>(db_->Users(), RecordKey::format(2)).UserName(), QStringLiteral("BERT"));
        QCOMPARE(result, 1);
        QCOMPARE(cache_->Count(), 4);
    }
};

QUORLA_TEST_GUI_MAIN(tst_Users)
#include "tst_users.moc"
