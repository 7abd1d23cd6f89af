#pragma once

#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TestEnvironment.h"
#include "UserRecord.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Helpers of the dialog tests: a database of named users and answering the
// next modal dialog.
namespace DialogTest {

// A new database in a folder of its own with one user per name, keys from 1.
inline std::unique_ptr<TQuorlaDB> database(const QString& folder, const QStringList& userNames)
{
    TWorkstationStore store;
    if (!store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), TestEnvironment::freshFolder(folder)))
        qFatal("cannot point the workstation at a test database");
    auto db = std::make_unique<TQuorlaDB>();
    for (const QString& name : userNames) {
        UserRecord user;
        user.setFullName(name);
        db->Users().Insert(user.bytes());
    }
    return db;
}

// Runs `act` on the modal dialog that the code under test opens next.
inline void whenModal(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0, [act] { act(QApplication::activeModalWidget()); });
}

// The widget named `name` inside `dialog`, or nullptr.
template <class Widget = QWidget>
inline Widget* child(QWidget* dialog, const char* name)
{
    return dialog ? dialog->findChild<Widget*>(QLatin1StringView(name)) : nullptr;
}

} // namespace DialogTest
