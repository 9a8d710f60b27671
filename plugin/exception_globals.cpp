// Per-thread state of the C++ exception machinery, kept without allocating.
//
// The C++ runtime linked into the plug-in keeps, for every thread, the exceptions that thread
// has caught and how many it has in flight: the C++ ABI's __cxa_eh_globals, reached through
// __cxa_get_globals. The runtime's own definition keeps it in emulated thread-local storage,
// which allocates on a thread's first throw and aborts the process when that allocation fails.
// The plug-in raises E_OUTOFMEMORY exactly when allocations fail, so a host thread whose first
// exception in the plug-in comes while memory is exhausted would take the host down.
//
// The definitions here take the runtime's place (the linker then never pulls its version in; a
// runtime that defined them elsewhere would fail the link with a duplicate). Each thread that
// throws gets a record from a fixed table inside the image, found again by its thread id, and
// gives it back when it ends (DLL_THREAD_DETACH). No exception outlives the export that raised
// it, so a record holds nothing between calls; the table bounds only how many threads that have
// thrown in the plug-in may live at once.
#include "plugin/exception_globals.h"

#include <windows.h>

#include <cstddef>

namespace {

// Layout fixed by the C++ ABI (__cxa_eh_globals).
struct ExceptionGlobals {
    void* caught_exceptions;
    unsigned int uncaught_exceptions;
};

struct ThreadRecord {
    volatile LONG owner;  // thread id, 0 when free (no thread has id 0)
    ExceptionGlobals globals;
};

constexpr std::size_t kRecords = 128;
ThreadRecord g_records[kRecords];

// Used by every thread that finds the table full: still no allocation, and correct as long as
// such threads do not throw in the plug-in at the same moment (the host calls one at a time).
ExceptionGlobals g_overflow;

ExceptionGlobals* ThreadGlobals() noexcept {
    const auto me = static_cast<LONG>(::GetCurrentThreadId());
    for (ThreadRecord& record : g_records) {
        if (record.owner == me) { return &record.globals; }
    }
    for (ThreadRecord& record : g_records) {
        if (record.owner == 0 && ::InterlockedCompareExchange(&record.owner, me, 0) == 0) {
            record.globals = ExceptionGlobals{};
            return &record.globals;
        }
    }
    return &g_overflow;
}

}  // namespace

extern "C" ExceptionGlobals* __cxa_get_globals() noexcept { return ThreadGlobals(); }
extern "C" ExceptionGlobals* __cxa_get_globals_fast() noexcept { return ThreadGlobals(); }

namespace vorkast {

void ReleaseThreadExceptionGlobals() noexcept {
    const auto me = static_cast<LONG>(::GetCurrentThreadId());
    for (ThreadRecord& record : g_records) {
        if (record.owner == me) {
            record.globals = ExceptionGlobals{};
            ::InterlockedExchange(&record.owner, 0);
            return;
        }
    }
}

}  // namespace vorkast
