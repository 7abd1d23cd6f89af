#include "AppTestSupport.h"

#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "TfrmDate.h"
#include "TfrmFiltering.h"
#include "TfrmLogin.h"
#include "TfrmMain.h"
#include "TfrmOptions.h"
#include "TfrmTrouble.h"
#include "UserRecord.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace AppTest {

void answerModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

void typeLogin(QWidget* dialog, const QString& name, const QString& password)
{
    // Typed key by key, so the edits' upper-casing is part of the road.
    for (auto [edit, text] : {std::pair{QStringLiteral("edtUserName"), name}, {QStringLiteral("edtPassword"), password}}) {
        auto* field = dialog->findChild<QLineEdit*>(edit);
        field->clear();
        QTest::keyClicks(field, text);
    }
    dialog->findChild<QAction*>(QStringLiteral("actOk"))->trigger();
}

QString freshWorkstation(bool withRootPath)
{
    TWorkstationStore store;
    QFile::remove(store.Location());
    qputenv("TMPDIR", QFile::encodeName(TestEnvironment::freshFolder(QStringLiteral("tmp"))));
    if (!withRootPath)
        return {};
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("db"));
    store.OpenKey(true);
    store.WriteString(QStringLiteral("RootPath"), folder);
    return folder;
}

QString addUser(TQuorlaDB& db, const QString& name, const QString& password, qint32 rights)
{
    UserRecord user;
    db.InitUserRecord(user);
    user.setRights(rights);
    user.setUserName(name);
    user.setFullName(name);
    user.setAbbreviation(name);
    user.setPassword(password);
    if (!db.Users().Insert(user.bytes()))
        qFatal("cannot add a user");
    return db.Users().CurrentKey();
}

Shell::Shell()
    : main(new TfrmMain), login(new TfrmLogin(main)), date(new TfrmDate(main))
{
    main->AttachDialogs(login, date);
    main->AttachToolDialogs(new TfrmOptions(main), new TfrmFiltering(main), new TfrmTrouble(main));
}

Shell::~Shell()
{
    delete main;
}

} // namespace AppTest
