#pragma once

// How long the troubleshooting dialog takes to list 20,000 alarms and 100,000
// day entries: reading every record with its look-ups, building the lines and
// putting them into the list.
void runTroubleBench();
