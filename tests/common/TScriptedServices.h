#pragma once

#include "TScriptedDesktopServices.h"
#include "TScriptedMachineServices.h"
#include "TScriptedPersonServices.h"
#include "TServices.h"

#include <QStringList>

// The services of a test that needs the person, the desktop and the machine:
// the three scripted parts in one object, each installed for ofTest() and
// each failing the test at its end as it says. A test that needs fewer makes
// only the parts it needs.
class TScriptedServices : public TScriptedPersonServices, public TScriptedDesktopServices, public TScriptedMachineServices
{
public:
    // The services for what a test builds: each of the three passes every
    // call on to the scripted part of its kind installed at the moment of the
    // call, so that a database made before a test's scripted services, or
    // outliving them, asks whichever the test has then.
    static TServices ofTest();

    // The three parts' unexpected events; taking them clears them.
    QStringList takeUnexpected();
    // The person's and the desktop's scripted answers not yet used; taking them
    // clears them.
    QStringList takePendingScript();
};
