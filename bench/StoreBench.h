#pragma once

// Dataset engine against hand-written SQLite on the same files: a day and a
// week read as the views do them, an alarm poll, an insert with a new key and
// a full scan, for 10,000 and 100,000 day entries.
void runStoreBench();
