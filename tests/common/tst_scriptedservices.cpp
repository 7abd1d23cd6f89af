// The scripted services decide whether other tests notice a wrong message: an
// unexpected one must fail the test.

#include "QuorlaTest.h"
#include "TScriptedServices.h"

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;
using Answer = TPersonServices::MessageAnswer;

class tst_ScriptedServices : public QObject
{
    Q_OBJECT

private slots:
    // A message of another kind or text than the script's is declined and
    // reported, and the script entry stays for the message it was meant for.
    void unexpectedMessageIsReported()
    {
        TScriptedServices services;
        services.expectMessage(Kind::Warning, QStringLiteral("Go?"), Answer::Ok);
        QCOMPARE(services.message(Kind::Confirmation, Buttons::OkCancel, QStringLiteral("Go?")),
                 Answer::Cancel);
        QCOMPARE(services.takeUnexpected().size(), 1);
        QCOMPARE(services.takePendingScript().size(), 1);
    }
};

QUORLA_TEST_CORE_MAIN(tst_ScriptedServices)
#include "tst_scriptedservices.moc"
