// Stand-ins for a loaded module's imports that count its calls and fail the k-th one (once, or
// from then on) the way the real function fails, for sweeps over every failure a call can meet
// (the way SQLite's tests fail the first, second, third... allocation).
//
// Everything the stand-ins record lives in fixed storage: a sweep measures the process heap
// around a call, so the stand-ins themselves never allocate.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vorkast::test {

// The calls that are counted and can be failed. SendMessageW is counted only for the two list
// box messages that can fail for want of memory.
enum class Import : int {
    kOpenFileMappingA,
    kMapViewOfFile,
    kVariantChangeType,
    kVariantCopy,
    kSysAllocString,
    kSysAllocStringLen,
    kSysAllocStringByteLen,
    kMalloc,
    kRealloc,
    kCalloc,
    kMultiByteToWideChar,
    kWideCharToMultiByte,
    kLbInitStorage,
    kLbAddString,
    kDialogBoxParamA,
    kDialogBoxParamW,
    kDialogBoxIndirectParamA,
    kDialogBoxIndirectParamW,
    kMessageBoxA,
    kMessageBoxW,
    kCount
};

// How a failing call answers: its result is the real function's failure value, and `last_error`
// (when not 0) is left as the thread's last error.
struct Failure {
    Import import;
    const char* description;  // "OpenFileMappingA: NULL, ERROR_ACCESS_DENIED"
    DWORD last_error;
};

// Every way each counted call fails.
const std::vector<Failure>& EveryFailure();

enum class FailureMode { kOnce, kFromThenOn };
const char* ModeName(FailureMode mode);

// What one run of configure showed, recorded by the stand-ins of the dialog and message box
// calls: the real dialog is created, and once the plug-in's dialog procedure has handled
// WM_INITDIALOG its list is read and the dialog is closed with IDOK; a real message box is
// closed with IDOK as soon as it shows.
struct DialogObservation {
    std::vector<std::string> message_boxes;  // "caption: text, owner host|other", in call order
    bool dialog_initialised = false;
    std::vector<std::wstring> list;          // the list box's entries after WM_INITDIALOG
    bool owner_disabled_in_dialog = false;   // the host window, while the dialog was up
};

// For its lifetime, `module`'s imports of every counted call, and of UnmapViewOfFile and
// CloseHandle (for tracking), point at stand-ins. One object at a time.
class FailingImports {
public:
    // `host_window`: the window that owns the dialog, for the observation.
    FailingImports(HMODULE module, HWND host_window);
    ~FailingImports();
    FailingImports(const FailingImports&) = delete;
    FailingImports& operator=(const FailingImports&) = delete;

    // Whether the module imports the function behind `import`.
    bool imported(Import import) const;
    // Names of the required functions the module does not import (the sweep would miss them).
    std::vector<std::string> missing(const std::vector<Import>& required) const;

    // Counts from zero again and fails nothing; first releases what the module left open
    // (see release_left_behind).
    void count_only();
    // Counts from zero again and fails call `k` (1-based) of `failure`'s function, or every
    // call from the k-th on.
    void fail(const Failure& failure, int k, FailureMode mode);

    int calls(Import import) const;
    // Calls that were failed since the last count_only or fail.
    int failed_calls() const;
    // Section handles the module opened and has not closed, views it mapped and has not
    // unmapped, since the last count_only or fail.
    int open_sections() const;
    int mapped_views() const;
    // Unmaps and closes those, so that one leaking run does not keep the table alive for the
    // runs after it.
    void release_left_behind();
    // The latest configure run (cleared by count_only and fail).
    DialogObservation dialog() const;
};

// The description of the call the process is in, printed if the process dies (an unhandled
// exception, a stack overflow, abort): which scenario, function, k and mode. Fixed storage.
void SetCurrentRun(const char* description);

}  // namespace vorkast::test
