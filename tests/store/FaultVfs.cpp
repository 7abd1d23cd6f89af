#include "FaultVfs.h"

#include <sqlite3.h>

#include <cstring>

namespace FaultVfs {
namespace {

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;

struct Trigger
{
    Op op = OpCount;
    int nth = 0;
    int code = SQLITE_OK;
    int times = 0;
    int seen = 0;
    int fired = 0;
} trigger;

// The fault for this call of `op`, or SQLITE_OK to go ahead.
int fault(Op op)
{
    if (trigger.op != op)
        return SQLITE_OK;
    if (++trigger.seen < trigger.nth || (trigger.times >= 0 && trigger.fired >= trigger.times))
        return SQLITE_OK;
    ++trigger.fired;
    return trigger.code;
}

// Our file: the real one's state follows the header.
struct File
{
    sqlite3_file base;
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
sqlite3_file* in(sqlite3_file* f) { return of(f)->inner(); }

int xClose(sqlite3_file* f) { return in(f)->pMethods->xClose(in(f)); }
int xRead(sqlite3_file* f, void* buf, int n, sqlite3_int64 at)
{
    const int rc = fault(Read);
    return rc != SQLITE_OK ? rc : in(f)->pMethods->xRead(in(f), buf, n, at);
}
int xWrite(sqlite3_file* f, const void* buf, int n, sqlite3_int64 at)
{
    const int rc = fault(Write);
    return rc != SQLITE_OK ? rc : in(f)->pMethods->xWrite(in(f), buf, n, at);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size)
{
    const int rc = fault(Truncate);
    return rc != SQLITE_OK ? rc : in(f)->pMethods->xTruncate(in(f), size);
}
int xSync(sqlite3_file* f, int flags)
{
    const int rc = fault(Sync);
    return rc != SQLITE_OK ? rc : in(f)->pMethods->xSync(in(f), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) { return in(f)->pMethods->xFileSize(in(f), size); }
int xLock(sqlite3_file* f, int level)
{
    const int rc = fault(Lock);
    return rc != SQLITE_OK ? rc : in(f)->pMethods->xLock(in(f), level);
}
int xUnlock(sqlite3_file* f, int level) { return in(f)->pMethods->xUnlock(in(f), level); }
int xCheckReservedLock(sqlite3_file* f, int* out) { return in(f)->pMethods->xCheckReservedLock(in(f), out); }
int xFileControl(sqlite3_file* f, int op, void* arg) { return in(f)->pMethods->xFileControl(in(f), op, arg); }
int xSectorSize(sqlite3_file* f) { return in(f)->pMethods->xSectorSize(in(f)); }
int xDeviceCharacteristics(sqlite3_file* f) { return in(f)->pMethods->xDeviceCharacteristics(in(f)); }
int xShmMap(sqlite3_file* f, int i, int size, int extend, void volatile** p)
{
    return in(f)->pMethods->xShmMap(in(f), i, size, extend, p);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) { return in(f)->pMethods->xShmLock(in(f), offset, n, flags); }
void xShmBarrier(sqlite3_file* f) { in(f)->pMethods->xShmBarrier(in(f)); }
int xShmUnmap(sqlite3_file* f, int del) { return in(f)->pMethods->xShmUnmap(in(f), del); }
// No memory mapping: every page goes through xRead.
int xFetch(sqlite3_file*, sqlite3_int64, int, void** p)
{
    *p = nullptr;
    return SQLITE_OK;
}
int xUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods methods = {3, xClose, xRead, xWrite, xTruncate, xSync, xFileSize, xLock, xUnlock,
                                    xCheckReservedLock, xFileControl, xSectorSize, xDeviceCharacteristics,
                                    xShmMap, xShmLock, xShmBarrier, xShmUnmap, xFetch, xUnfetch};

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags)
{
    of(f)->base.pMethods = nullptr;
    const int rc = real->xOpen(real, name, in(f), flags, outFlags);
    if (in(f)->pMethods != nullptr)
        of(f)->base.pMethods = &methods;
    return rc;
}
int xDelete(sqlite3_vfs*, const char* name, int syncDir)
{
    const int rc = fault(Delete);
    return rc != SQLITE_OK ? rc : real->xDelete(real, name, syncDir);
}

} // namespace

void install()
{
    if (real == nullptr) {
        real = sqlite3_vfs_find("unix");
        shim = *real;
        shim.zName = "quorla-fault";
        shim.szOsFile = int(sizeof(File)) + real->szOsFile;
        shim.xOpen = xOpen;
        shim.xDelete = xDelete;
    }
    sqlite3_vfs_register(&shim, 1);
}

void uninstall()
{
    disarm();
    sqlite3_vfs_unregister(&shim);
    sqlite3_vfs_register(real, 1);
}

void arm(Op op, int nth, int code, int times) { trigger = Trigger{op, nth, code, times, 0, 0}; }
void disarm() { trigger = Trigger{}; }
int fired() { return trigger.fired; }

} // namespace FaultVfs
