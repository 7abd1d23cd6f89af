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
    // Each part reports its own (a notification withdrawn that was never
    // shown is the desktop's), and each passes ofTest()'s calls to the newest
    // of its kind: a machine made later serves alone.
    void unexpectedEventsAreReported()
    {
        TScriptedServices services;
        services.expectMessage(Kind::Warning, QStringLiteral("Go?"), Answer::Ok);
        TScriptedMachineServices machine;
        machine.setHostName(QStringLiteral("ws-b"));
        const TServices ofTest = TScriptedServices::ofTest();
        QCOMPARE(ofTest.person().message(Kind::Confirmation, Buttons::OkCancel, QStringLiteral("Go?")), Answer::Cancel);
        ofTest.desktop().withdrawNotification(7);
        QCOMPARE(ofTest.machine().hostName(), QStringLiteral("ws-b"));
        QCOMPARE(services.takeUnexpected().size(), 2);
        QCOMPARE(services.takePendingScript().size(), 1);
    }
};

QUORLA_TEST_CORE_MAIN(tst_ScriptedServices)
#include "tst_scriptedservices.moc"
