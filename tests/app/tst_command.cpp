#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "EQuorla.h"
#include "TCommand.h"
#include "TQtServices.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>

#include <stdexcept>

class TestCommand : public QObject
{
    Q_OBJECT

private slots:
    void errorsEndTheCommandOnly_data();
    void errorsEndTheCommandOnly();
    void errorBoxShowsTheLines();
    void choiceBoxAnswersItsButton_data();
    void choiceBoxAnswersItsButton();
};

void TestCommand::errorsEndTheCommandOnly_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("program error") << 0 << QStringLiteral("Unable to open user isam\r\rlocked");
    QTest::newRow("library error") << 1 << QStringLiteral("bad thing");
}

void TestCommand::errorsEndTheCommandOnly()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    TScriptedServices services;
    // Twice: the program goes on after the first failure and runs the command
    // again.
    for (int i = 0; i < 2; ++i)
        services.expectMessage(TServices::MessageKind::Error, message, TServices::MessageAnswer::Ok);
    int runs = 0;
    QAction action;
    TCommand::Bind(&action, [&] {
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
void TestCommand::errorBoxShowsTheLines()
{
    TQtServices services;
    TServices* previous = TServices::setCurrent(&services);
    QString text;
    AppTest::whenModal([&](QWidget* box) {
        text = static_cast<QMessageBox*>(box)->text();
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    const bool completed = TCommand::Run([] { throw EQuorla(QStringLiteral("first\rsecond")); });
    TServices::setCurrent(previous);
    QVERIFY(!completed);
    QCOMPARE(text, QStringLiteral("first\nsecond"));
}

// The real box of a question with choices: one button per choice, in order,
// and Cancel; Escape cancels too.
void TestCommand::choiceBoxAnswersItsButton_data()
{
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<int>("answer");
    QTest::newRow("first") << "This event" << 0;
    QTest::newRow("last") << "All events in the series" << 2;
    QTest::newRow("Cancel") << "Cancel" << -1;
    QTest::newRow("Escape") << "" << -1;
}

void TestCommand::choiceBoxAnswersItsButton()
{
    QFETCH(QString, pressed);
    QFETCH(int, answer);
    TQtServices services;
    TServices* previous = TServices::setCurrent(&services);
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
    TServices::setCurrent(previous);
    QCOMPARE(chosen, answer);
    QCOMPARE(buttons.size(), 4);
}

QUORLA_TEST_GUI_MAIN(TestCommand)
#include "tst_command.moc"
