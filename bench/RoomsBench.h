#pragma once

// Booking a room at 100,000 entries (its check and its write, synced), on a
// folder and on a private server; then two workstations booking different
// rooms at once against each alone, to show that neither waits for the other.
void runRoomsBench();
