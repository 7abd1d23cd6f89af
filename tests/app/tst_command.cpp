#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "EQuorla.h"
#include "TCommand.h"
#include "TCommandScope.h"
#include "TOutageWatch.h"
#include "TQtServices.h"

#include <QAction>
#include <QMessageBox>

#include <stdexcept>

class TestCommand : public QObject
{
    Q_OBJECT

private slots:
    void errorsEndTheCommandOnly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("program error") << 0 << QStringLiteral("Unable to open user isam\r\rlocked");
        QTest::newRow("library error") << 1 << QStringLiteral("bad thing");
    }
    void errorsEndTheCommandOnly()
    {
        QFETCH(int, kind);
        QFETCH(QString, message);
        TScriptedServices services;
        // Twice: the program goes on after the first failure and runs the command
        // again.
        for (int i = 0; i < 2; ++i)
            services.expectMessage(TPersonServices::MessageKind::Error, message, TPersonServices::MessageAnswer::Ok);
        int runs = 0;
        QAction action;
        TCommand::Bind(&action, services, [&] {
            ++runs;
            if (kind == 0)
                throw EQuorla(QStringLiteral("Unable to open user isam\r\rlocked"));
            throw std::runtime_error("bad thing");
        });
        action.trigger();
        action.trigger();
        QCOMPARE(runs, 2);
    }

    // The messages' line breaks ("\r") show as lines in the real box.
    void errorBoxShowsTheLines()
    {
        TQtServices services;
        QString text;
        AppTest::whenModal([&](QWidget* box) {
            text = static_cast<QMessageBox*>(box)->text();
            static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        });
        QVERIFY(!TCommand::Run(services, [] { throw EQuorla(QStringLiteral("first\rsecond")); }));
        QCOMPARE(text, QStringLiteral("first\nsecond"));
    }

    // The real box of a question with choices: one button per choice, in order,
    // and Cancel; Escape cancels too.
    void choiceBoxAnswersItsButton_data()
    {
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<int>("answer");
        QTest::newRow("last") << "All events in the series" << 2;
        QTest::newRow("Cancel") << "Cancel" << -1;
        QTest::newRow("Escape") << "" << -1;
    }
    void choiceBoxAnswersItsButton()
    {
        QFETCH(QString, pressed);
        TQtServices services;
        QStringList buttons;
        AppTest::whenModal([&](QWidget* box) {
            for (QAbstractButton* button : static_cast<QMessageBox*>(box)->buttons())
                buttons << button->text();
            if (pressed.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton* button : static_cast<QMessageBox*>(box)->buttons())
                if (button->text() == pressed)
                    button->click();
        });
        const int chosen = services.choose(QStringLiteral("Which?"),
                                           {"This event", "This and following events", "All events in the series"});
        QTEST(chosen, "answer");
        QCOMPARE(buttons.size(), 4);
    }

    // One message per outage: errors in order, each with what the box shows
    // ("-" for nothing), the outage's state after it; "back" stands for a call
    // that worked.
    void outageToldOnce_data()
    {
        const QString lost = QStringLiteral("The connection to the Quorla database server was lost\r\r");
        const QString down = QStringLiteral("Unable to open user isam\r\rUnable to connect to the Quorla database server\r\r");
        const QString saving = QString::fromLatin1(TCommandScope::LostWhileSaving);
        // The first of an outage says that the program keeps trying.
        const QString again = QStringLiteral("\r\rQuorla tries again by itself; this message closes once the database is back.");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("told once, again after it ended")
            << QStringList{lost + "a", lost + "b", "back", lost + "c"} << QStringList{lost + "a" + again, "-", "-", lost + "c" + again};
        QTest::newRow("other errors still shown")
            << QStringList{down + "x", "Disk read / write error", lost + "y"}
            << QStringList{down + "x" + again, "Disk read / write error", "-"};
        QTest::newRow("a lost commit always, and it starts the outage")
            << QStringList{saving, lost + "z", saving} << QStringList{saving, "-", saving};
        QTest::newRow("control characters gone")
            << QStringList{lost + "server\tsaid\nso\x1b[0m"} << QStringList{lost + "serversaid\rso[0m" + again};
    }
    void outageToldOnce()
    {
        QFETCH(QStringList, errors);
        QFETCH(QStringList, shown);
        TOutageWatch watch;
        for (qsizetype i = 0; i < errors.size(); ++i) {
            if (errors[i] == QLatin1String("back")) {
                QVERIFY(watch.Reached());
                QVERIFY(!watch.Away() && watch.Line().isEmpty());
                continue;
            }
            const QString text = watch.Screen(errors[i]);
            QCOMPARE(text.isEmpty() ? QStringLiteral("-") : text, shown[i]);
        }
    }
};

QUORLA_TEST_GUI_MAIN(TestCommand)
#include "tst_command.moc"
