#pragma once

#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TScriptedServices.h"
#include "TestDatabase.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

// Helpers of the dialog tests: a database of users and answering the next
// modal dialog by finding its controls by name.
namespace DialogTest {

using Kind = TPersonServices::MessageKind;
using Answer = TPersonServices::MessageAnswer;

// Users "U01" to "U21" are inserted from U21 down, so U01 has key 21 and the
// lists' name order is the reverse of key order: user(n) is the key of "Un".
inline QString user(int n) { return RecordKey::format(22 - n); }

using TestDatabase::database;

// A new database in a folder of its own holding those 21 users.
inline std::unique_ptr<TQuorlaDB> database(const QString& folder)
{
    QStringList names;
    for (int n = 21; n >= 1; --n)
        names << QStringLiteral("U%1").arg(n, 2, 10, QLatin1Char('0'));
    return database(folder, names);
}

// Runs `act`, once, on the modal dialog that the code under test opens next:
// polled from the event loop, so that one opened deep inside a command is
// found too; a dialog already open when this is called is not the one meant.
inline void whenModal(std::function<void(QWidget*)> act)
{
    const QPointer<QWidget> before = QApplication::activeModalWidget();
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, before, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == before || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

// The widget named `name` inside `dialog`.
template <class Widget = QWidget>
inline Widget* child(QWidget* dialog, const char* name)
{
    return dialog ? dialog->findChild<Widget*>(QLatin1StringView(name)) : nullptr;
}

inline void click(QWidget* dialog, const char* name) { QTest::mouseClick(child(dialog, name), Qt::LeftButton); }

// Ticks the first `count` entries of a check-list.
inline void tick(QWidget* dialog, const char* list, int count)
{
    for (int row = 0; row < count; ++row)
        child<QListWidget>(dialog, list)->item(row)->setCheckState(Qt::Checked);
}

} // namespace DialogTest
