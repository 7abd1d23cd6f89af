// The scripted services decide whether other tests notice a wrong message, so
// their matching must not let a wrong message through, and they must not leak
// their clock or their installation into the next test.

#include "QuorlaTest.h"
#include "TClock.h"
#include "TScriptedServices.h"

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;
using Answer = TServices::MessageAnswer;

Q_DECLARE_METATYPE(TServices::MessageKind)
Q_DECLARE_METATYPE(TServices::MessageButtons)
Q_DECLARE_METATYPE(TServices::MessageAnswer)

class tst_ScriptedServices : public QObject
{
    Q_OBJECT

private slots:
    void matching_data()
    {
        QTest::addColumn<Kind>("scriptedKind");
        QTest::addColumn<QString>("scriptedText");
        QTest::addColumn<bool>("prefix");
        QTest::addColumn<Answer>("scriptedAnswer");
        QTest::addColumn<Kind>("shownKind");
        QTest::addColumn<Buttons>("shownButtons");
        QTest::addColumn<QString>("shownText");
        QTest::addColumn<Answer>("expectedAnswer");
        QTest::addColumn<bool>("expected");

        QTest::newRow("exact text answered") << Kind::Confirmation << "Sure?" << false << Answer::Yes
                                             << Kind::Confirmation << Buttons::YesNo << "Sure?" << Answer::Yes << true;
        QTest::newRow("longer text is not the exact text")
            << Kind::Information << "Done" << false << Answer::Ok << Kind::Information << Buttons::Ok << "Done!"
            << Answer::Ok << false;
        QTest::newRow("prefix answers a longer text")
            << Kind::Error << "Unable to open user isam\r\r" << true << Answer::Ok << Kind::Error << Buttons::Ok
            << "Unable to open user isam\r\rFile is not isam format" << Answer::Ok << true;
        QTest::newRow("other kind declined") << Kind::Warning << "Go?" << false << Answer::Ok << Kind::Confirmation
                                             << Buttons::OkCancel << "Go?" << Answer::Cancel << false;
        QTest::newRow("answer not among the buttons declined")
            << Kind::Confirmation << "Sure?" << false << Answer::Yes << Kind::Confirmation << Buttons::OkCancel
            << "Sure?" << Answer::Cancel << false;
        QTest::newRow("yes-no box declined with No") << Kind::Information << "x" << false << Answer::Ok
                                                     << Kind::Confirmation << Buttons::YesNo << "Sure?" << Answer::No
                                                     << false;
    }

    void matching()
    {
        QFETCH(Kind, scriptedKind);
        QFETCH(QString, scriptedText);
        QFETCH(bool, prefix);
        QFETCH(Answer, scriptedAnswer);
        QFETCH(Kind, shownKind);
        QFETCH(Buttons, shownButtons);
        QFETCH(QString, shownText);
        QFETCH(Answer, expectedAnswer);
        QFETCH(bool, expected);

        TScriptedServices services;
        if (prefix)
            services.expectMessageStartingWith(scriptedKind, scriptedText, scriptedAnswer);
        else
            services.expectMessage(scriptedKind, scriptedText, scriptedAnswer);

        QCOMPARE(TServices::current().message(shownKind, shownButtons, shownText), expectedAnswer);
        QCOMPARE(services.messages().size(), 1);
        QCOMPARE(services.messages().first().text, shownText);
        QCOMPARE(services.takeUnexpected().size(), expected ? 0 : 1);
        // A declined message leaves its script entry for the message it was meant for.
        QCOMPARE(services.takePendingScript().size(), expected ? 0 : 1);
    }

    // Unused script and unscripted pickers are reported; the clock and the
    // installation are put back when the services go.
    void leftoversAndRestoring()
    {
        const QDateTime fixed(QDate(2001, 2, 3), QTime(4, 5, 6));
        TScriptedServices outer;
        {
            TScriptedServices inner;
            inner.expectFolder(QStringLiteral("/data"));
            inner.expectMessage(Kind::Warning, QStringLiteral("w"), Answer::Ok);
            QCOMPARE(inner.takePendingScript().size(), 2);
            QCOMPARE(inner.pickFolder(QStringLiteral("Where?")), QString());
            QCOMPARE(inner.takeUnexpected().size(), 1);
            inner.setNow(fixed);
            QCOMPARE(&TServices::current(), &inner);
            QCOMPARE(TServices::current().now(), fixed);
        }
        QCOMPARE(&TServices::current(), &outer);
        QVERIFY(TClock::now() != fixed);
    }
};

QUORLA_TEST_CORE_MAIN(tst_ScriptedServices)
#include "tst_scriptedservices.moc"
