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

// The real file's method `M`, first failing when `op` is to fail here.
template <auto M, Op op = OpCount>
struct Through;
template <typename R, typename... A, R (*sqlite3_io_methods::*M)(sqlite3_file*, A...), Op op>
struct Through<M, op>
{
    static R call(sqlite3_file* f, A... args)
    {
        if constexpr (op != OpCount) {
            if (const int rc = fault(op); rc != SQLITE_OK)
                return rc;
        }
        return (in(f)->pMethods->*M)(in(f), args...);
    }
};

// No memory mapping: every page goes through xRead.
int xFetch(sqlite3_file*, sqlite3_int64, int, void** p)
{
    *p = nullptr;
    return SQLITE_OK;
}
int xUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

using M = sqlite3_io_methods;
const sqlite3_io_methods methods = {
    3, Through<&M::xClose>::call, Through<&M::xRead, Read>::call, Through<&M::xWrite, Write>::call,
    Through<&M::xTruncate, Truncate>::call, Through<&M::xSync, Sync>::call, Through<&M::xFileSize>::call,
    Through<&M::xLock, Lock>::call, Through<&M::xUnlock>::call, Through<&M::xCheckReservedLock>::call,
    Through<&M::xFileControl>::call, Through<&M::xSectorSize>::call, Through<&M::xDeviceCharacteristics>::call,
    Through<&M::xShmMap>::call, Through<&M::xShmLock>::call, Through<&M::xShmBarrier>::call,
    Through<&M::xShmUnmap>::call, xFetch, xUnfetch};

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
