#pragma once

// A SQLite VFS over the default "unix" one that fails chosen file operations:
// "the Nth write after arming fails with SQLITE_FULL", once or from then on.
// While installed it is the default VFS, so every dataset opened meanwhile goes
// through it; unarmed it only forwards.
namespace FaultVfs {

enum Op { Read, Write, Sync, Lock, Truncate, Delete, OpCount };

void install();
void uninstall();

// Fails the `nth` call of `op` (counted from 1 after this call) with `code`,
// and `times` calls in all from there (-1: every later one). Arming again
// replaces the previous fault.
void arm(Op op, int nth, int code, int times = 1);
void disarm();

// How many calls failed since arming.
int fired();

} // namespace FaultVfs
