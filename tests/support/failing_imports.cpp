#include "tests/support/failing_imports.h"

#include "tests/support/import_patch.h"

#include <oleauto.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <memory>

namespace vorkast::test {
namespace {

// The list box of the "Sensors" dialog.
constexpr int kSensorListId = 1001;

constexpr int kCounted = static_cast<int>(Import::kCount);
constexpr int kMaxTracked = 16;
constexpr int kMaxBoxes = 4;
constexpr int kMaxBoxText = 160;
constexpr int kMaxEntries = 16;
constexpr int kMaxEntryText = 96;

// Everything the stand-ins touch. Fixed storage: nothing here allocates.
struct State {
    int calls[kCounted] = {};
    Import failing = Import::kCount;
    int k = 0;
    FailureMode mode = FailureMode::kOnce;
    DWORD last_error = 0;
    int failed = 0;

    HANDLE sections[kMaxTracked] = {};
    const void* views[kMaxTracked] = {};

    HWND host = nullptr;
    DLGPROC plugin_proc = nullptr;
    char boxes[kMaxBoxes][kMaxBoxText] = {};
    int box_count = 0;
    bool initialised = false;
    wchar_t entries[kMaxEntries][kMaxEntryText] = {};
    int entry_count = 0;
    bool owner_disabled = false;
};
State g;

// The stand-ins reach the real functions through the addresses the patches replaced.
enum Patched : int {
    kPOpenFileMappingA, kPMapViewOfFile, kPUnmapViewOfFile, kPCloseHandle,
    kPVariantChangeType, kPVariantCopy, kPSysAllocString, kPSysAllocStringLen,
    kPSysAllocStringByteLen, kPMalloc, kPRealloc, kPCalloc, kPMultiByteToWideChar,
    kPWideCharToMultiByte, kPSendMessageW, kPDialogBoxParamA, kPDialogBoxParamW,
    kPDialogBoxIndirectParamA, kPDialogBoxIndirectParamW, kPMessageBoxA, kPMessageBoxW,
    kPatchedCount
};
const void* g_original[kPatchedCount] = {};
std::unique_ptr<ImportPatch> g_patches[kPatchedCount];

template <class Fn>
Fn Real(Patched p) {
    return reinterpret_cast<Fn>(const_cast<void*>(g_original[p]));
}

// Counts the call; true when this one is to fail (the last error is then set).
bool FailsNow(Import import) {
    const int n = ++g.calls[static_cast<int>(import)];
    if (g.failing != import) { return false; }
    if (g.mode == FailureMode::kOnce ? n != g.k : n < g.k) { return false; }
    ++g.failed;
    if (g.last_error != 0) { ::SetLastError(g.last_error); }
    return true;
}

template <class T>
void Track(T* slots, T value) {
    for (int i = 0; i < kMaxTracked; ++i) {
        if (slots[i] == nullptr) {
            slots[i] = value;
            return;
        }
    }
}

template <class T>
void Untrack(T* slots, const void* value) {
    for (int i = 0; i < kMaxTracked; ++i) {
        if (slots[i] != nullptr && slots[i] == value) {
            slots[i] = nullptr;
            return;
        }
    }
}

template <class T>
int Tracked(const T* slots) {
    int n = 0;
    for (int i = 0; i < kMaxTracked; ++i) { n += slots[i] != nullptr; }
    return n;
}

// Section and view calls ------------------------------------------------------------------

HANDLE WINAPI OpenFileMappingStandIn(DWORD access, BOOL inherit, LPCSTR name) {
    if (FailsNow(Import::kOpenFileMappingA)) { return nullptr; }
    const HANDLE h = Real<decltype(&::OpenFileMappingA)>(kPOpenFileMappingA)(access, inherit, name);
    if (h != nullptr) { Track(g.sections, h); }
    return h;
}

LPVOID WINAPI MapViewStandIn(HANDLE section, DWORD access, DWORD high, DWORD low, SIZE_T bytes) {
    if (FailsNow(Import::kMapViewOfFile)) { return nullptr; }
    void* view = Real<decltype(&::MapViewOfFile)>(kPMapViewOfFile)(section, access, high, low, bytes);
    if (view != nullptr) { Track(g.views, static_cast<const void*>(view)); }
    return view;
}

BOOL WINAPI UnmapViewStandIn(LPCVOID view) {
    Untrack(g.views, view);
    return Real<decltype(&::UnmapViewOfFile)>(kPUnmapViewOfFile)(view);
}

BOOL WINAPI CloseHandleStandIn(HANDLE handle) {
    Untrack(g.sections, handle);
    return Real<decltype(&::CloseHandle)>(kPCloseHandle)(handle);
}

// OLE Automation ----------------------------------------------------------------------------

HRESULT WINAPI VariantChangeTypeStandIn(VARIANTARG* to, VARIANTARG* from, USHORT flags, VARTYPE type) {
    if (FailsNow(Import::kVariantChangeType)) { return E_OUTOFMEMORY; }
    return Real<decltype(&::VariantChangeType)>(kPVariantChangeType)(to, from, flags, type);
}

HRESULT WINAPI VariantCopyStandIn(VARIANTARG* to, VARIANTARG* from) {
    if (FailsNow(Import::kVariantCopy)) { return E_OUTOFMEMORY; }
    return Real<decltype(&::VariantCopy)>(kPVariantCopy)(to, from);
}

BSTR WINAPI SysAllocStringStandIn(const OLECHAR* text) {
    if (FailsNow(Import::kSysAllocString)) { return nullptr; }
    return Real<decltype(&::SysAllocString)>(kPSysAllocString)(text);
}

BSTR WINAPI SysAllocStringLenStandIn(const OLECHAR* text, UINT length) {
    if (FailsNow(Import::kSysAllocStringLen)) { return nullptr; }
    return Real<decltype(&::SysAllocStringLen)>(kPSysAllocStringLen)(text, length);
}

BSTR WINAPI SysAllocStringByteLenStandIn(LPCSTR text, UINT length) {
    if (FailsNow(Import::kSysAllocStringByteLen)) { return nullptr; }
    return Real<decltype(&::SysAllocStringByteLen)>(kPSysAllocStringByteLen)(text, length);
}

// The C runtime's heap (the plug-in's static C++ runtime allocates through these too) -------

void* __cdecl MallocStandIn(std::size_t bytes) {
    if (FailsNow(Import::kMalloc)) { return nullptr; }
    return Real<void*(__cdecl*)(std::size_t)>(kPMalloc)(bytes);
}

void* __cdecl ReallocStandIn(void* block, std::size_t bytes) {
    if (FailsNow(Import::kRealloc)) { return nullptr; }  // the block stays as it was
    return Real<void*(__cdecl*)(void*, std::size_t)>(kPRealloc)(block, bytes);
}

void* __cdecl CallocStandIn(std::size_t count, std::size_t bytes) {
    if (FailsNow(Import::kCalloc)) { return nullptr; }
    return Real<void*(__cdecl*)(std::size_t, std::size_t)>(kPCalloc)(count, bytes);
}

// Code-page conversions -----------------------------------------------------------------------

int WINAPI MultiByteToWideCharStandIn(UINT page, DWORD flags, LPCCH text, int count, LPWSTR out, int out_count) {
    if (FailsNow(Import::kMultiByteToWideChar)) { return 0; }
    return Real<decltype(&::MultiByteToWideChar)>(kPMultiByteToWideChar)(page, flags, text, count, out, out_count);
}

int WINAPI WideCharToMultiByteStandIn(UINT page, DWORD flags, LPCWCH text, int count, LPSTR out,
                                      int out_count, LPCCH default_char, LPBOOL used_default) {
    if (FailsNow(Import::kWideCharToMultiByte)) { return 0; }
    return Real<decltype(&::WideCharToMultiByte)>(kPWideCharToMultiByte)(
        page, flags, text, count, out, out_count, default_char, used_default);
}

// Windows ------------------------------------------------------------------------------------

LRESULT WINAPI SendMessageStandIn(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == LB_ADDSTRING && FailsNow(Import::kLbAddString)) { return LB_ERRSPACE; }
    if (message == LB_INITSTORAGE && FailsNow(Import::kLbInitStorage)) { return LB_ERRSPACE; }
    return Real<decltype(&::SendMessageW)>(kPSendMessageW)(window, message, wparam, lparam);
}

// Stands between the system and the plug-in's dialog procedure: once that has handled
// WM_INITDIALOG, notes what the dialog shows and closes it the way the OK button does.
INT_PTR CALLBACK WatchingDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    const INT_PTR result = g.plugin_proc(dialog, message, wparam, lparam);
    if (message == WM_INITDIALOG) {
        g.initialised = true;
        g.owner_disabled = g.host != nullptr && !::IsWindowEnabled(g.host);
        const HWND list = ::GetDlgItem(dialog, kSensorListId);
        const LRESULT n = list != nullptr ? ::SendMessageW(list, LB_GETCOUNT, 0, 0) : 0;
        for (LRESULT i = 0; i < n && g.entry_count < kMaxEntries; ++i) {
            wchar_t* entry = g.entries[g.entry_count++];
            entry[0] = 0;
            if (::SendMessageW(list, LB_GETTEXTLEN, i, 0) < kMaxEntryText) {
                ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry));
            }
        }
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
    return result;
}

// The four modal dialog calls differ only in what names the template (a resource name or a
// template in memory, narrow or wide): each fails as -1 when its turn comes, else runs the real
// call with the plug-in's dialog procedure watched.
template <Import kWhich, Patched kSlot, class Source>
INT_PTR WINAPI DialogStandIn(HINSTANCE module, Source source, HWND owner, DLGPROC proc, LPARAM param) {
    if (FailsNow(kWhich)) { return -1; }
    g.plugin_proc = proc;
    using Fn = INT_PTR(WINAPI*)(HINSTANCE, Source, HWND, DLGPROC, LPARAM);
    return Real<Fn>(kSlot)(module, source, owner, WatchingDialogProc, param);
}

BOOL CALLBACK CloseVisibleDialog(HWND window, LPARAM) {
    wchar_t cls[16] = {};
    ::GetClassNameW(window, cls, 16);
    if (::lstrcmpW(cls, L"#32770") == 0 && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
    return TRUE;
}

// A message box shows within the plug-in's WM_INITDIALOG, before the dialog is visible, so
// the one visible, enabled dialog-class window of this thread is the box.
void CALLBACK CloseMessageBoxSoon(HWND, UINT, UINT_PTR, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), CloseVisibleDialog, 0);
}

void CopyText(char* to, const char* from, int size = kMaxBoxText) {
    int i = 0;
    for (; from != nullptr && from[i] != 0 && i < size - 1; ++i) { to[i] = from[i]; }
    to[i] = 0;
}

void RecordBox(HWND owner, const char* text, const char* caption) {
    if (g.box_count == kMaxBoxes) { return; }
    char* box = g.boxes[g.box_count++];
    char line[kMaxBoxText];
    CopyText(box, caption);
    ::lstrcatA(box, ": ");
    CopyText(line, text);
    if (::lstrlenA(box) + ::lstrlenA(line) + 24 < kMaxBoxText) {
        ::lstrcatA(box, line);
        ::lstrcatA(box, owner == g.host ? ", owner host" : ", owner other");
    }
}

template <class Fn, class Char>
int ShowBox(Patched real, Import import, HWND owner, const Char* text, const Char* caption, UINT type) {
    if (FailsNow(import)) { return 0; }
    const UINT_PTR timer = ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, CloseMessageBoxSoon);
    const int result = Real<Fn>(real)(owner, text, caption, type);
    ::KillTimer(nullptr, timer);
    return result;
}

int WINAPI MessageBoxAStandIn(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    RecordBox(owner, text, caption);
    return ShowBox<decltype(&::MessageBoxA)>(kPMessageBoxA, Import::kMessageBoxA, owner, text, caption, type);
}

int WINAPI MessageBoxWStandIn(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    RecordBox(owner, "(wide text)", "(wide caption)");
    return ShowBox<decltype(&::MessageBoxW)>(kPMessageBoxW, Import::kMessageBoxW, owner, text, caption, type);
}

struct PatchPlan {
    Patched slot;
    const char* module;
    const char* function;
    const void* stand_in;
    Import counted;  // kCount: tracked only
};

const PatchPlan kPlan[] = {
    {kPOpenFileMappingA, "kernel32.dll", "OpenFileMappingA", reinterpret_cast<const void*>(&OpenFileMappingStandIn), Import::kOpenFileMappingA},
    {kPMapViewOfFile, "kernel32.dll", "MapViewOfFile", reinterpret_cast<const void*>(&MapViewStandIn), Import::kMapViewOfFile},
    {kPUnmapViewOfFile, "kernel32.dll", "UnmapViewOfFile", reinterpret_cast<const void*>(&UnmapViewStandIn), Import::kCount},
    {kPCloseHandle, "kernel32.dll", "CloseHandle", reinterpret_cast<const void*>(&CloseHandleStandIn), Import::kCount},
    {kPVariantChangeType, "oleaut32.dll", "VariantChangeType", reinterpret_cast<const void*>(&VariantChangeTypeStandIn), Import::kVariantChangeType},
    {kPVariantCopy, "oleaut32.dll", "VariantCopy", reinterpret_cast<const void*>(&VariantCopyStandIn), Import::kVariantCopy},
    {kPSysAllocString, "oleaut32.dll", "SysAllocString", reinterpret_cast<const void*>(&SysAllocStringStandIn), Import::kSysAllocString},
    {kPSysAllocStringLen, "oleaut32.dll", "SysAllocStringLen", reinterpret_cast<const void*>(&SysAllocStringLenStandIn), Import::kSysAllocStringLen},
    {kPSysAllocStringByteLen, "oleaut32.dll", "SysAllocStringByteLen", reinterpret_cast<const void*>(&SysAllocStringByteLenStandIn), Import::kSysAllocStringByteLen},
    {kPMalloc, "msvcrt.dll", "malloc", reinterpret_cast<const void*>(&MallocStandIn), Import::kMalloc},
    {kPRealloc, "msvcrt.dll", "realloc", reinterpret_cast<const void*>(&ReallocStandIn), Import::kRealloc},
    {kPCalloc, "msvcrt.dll", "calloc", reinterpret_cast<const void*>(&CallocStandIn), Import::kCalloc},
    {kPMultiByteToWideChar, "kernel32.dll", "MultiByteToWideChar", reinterpret_cast<const void*>(&MultiByteToWideCharStandIn), Import::kMultiByteToWideChar},
    {kPWideCharToMultiByte, "kernel32.dll", "WideCharToMultiByte", reinterpret_cast<const void*>(&WideCharToMultiByteStandIn), Import::kWideCharToMultiByte},
    {kPSendMessageW, "user32.dll", "SendMessageW", reinterpret_cast<const void*>(&SendMessageStandIn), Import::kLbAddString},
    {kPDialogBoxParamA, "user32.dll", "DialogBoxParamA", reinterpret_cast<const void*>(&DialogStandIn<Import::kDialogBoxParamA, kPDialogBoxParamA, LPCSTR>), Import::kDialogBoxParamA},
    {kPDialogBoxParamW, "user32.dll", "DialogBoxParamW", reinterpret_cast<const void*>(&DialogStandIn<Import::kDialogBoxParamW, kPDialogBoxParamW, LPCWSTR>), Import::kDialogBoxParamW},
    {kPDialogBoxIndirectParamA, "user32.dll", "DialogBoxIndirectParamA", reinterpret_cast<const void*>(&DialogStandIn<Import::kDialogBoxIndirectParamA, kPDialogBoxIndirectParamA, LPCDLGTEMPLATEA>), Import::kDialogBoxIndirectParamA},
    {kPDialogBoxIndirectParamW, "user32.dll", "DialogBoxIndirectParamW", reinterpret_cast<const void*>(&DialogStandIn<Import::kDialogBoxIndirectParamW, kPDialogBoxIndirectParamW, LPCDLGTEMPLATEW>), Import::kDialogBoxIndirectParamW},
    {kPMessageBoxA, "user32.dll", "MessageBoxA", reinterpret_cast<const void*>(&MessageBoxAStandIn), Import::kMessageBoxA},
    {kPMessageBoxW, "user32.dll", "MessageBoxW", reinterpret_cast<const void*>(&MessageBoxWStandIn), Import::kMessageBoxW},
};

const PatchPlan* PlanFor(Import import) {
    if (import == Import::kLbInitStorage) { import = Import::kLbAddString; }  // one SendMessageW
    for (const PatchPlan& p : kPlan) {
        if (p.counted == import) { return &p; }
    }
    return nullptr;
}

// Dying words -----------------------------------------------------------------------------------

char g_current_run[320] = "(no run)";

void SayCurrentRun(const char* what) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    ::WriteFile(err, what, static_cast<DWORD>(::lstrlenA(what)), &written, nullptr);
    ::WriteFile(err, g_current_run, static_cast<DWORD>(::lstrlenA(g_current_run)), &written, nullptr);
    ::WriteFile(err, "\n", 1, &written, nullptr);
}

LONG WINAPI ReportStackOverflow(EXCEPTION_POINTERS* e) {
    if (e->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        SayCurrentRun("\n*** stack overflow during: ");
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI ReportUnhandled(EXCEPTION_POINTERS* e) {
    char code[48];
    ::wsprintfA(code, "\n*** unhandled exception 0x%08lX during: ",
                static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
    SayCurrentRun(code);
    return EXCEPTION_CONTINUE_SEARCH;
}

void ReportAbort(int) { SayCurrentRun("\n*** abort (std::terminate?) during: "); }

void InstallDyingWords() {
    static const bool installed = [] {
        ::AddVectoredExceptionHandler(1, ReportStackOverflow);
        ::SetUnhandledExceptionFilter(ReportUnhandled);
        std::signal(SIGABRT, ReportAbort);
        return true;
    }();
    (void)installed;
}

}  // namespace

const std::vector<Failure>& EveryFailure() {
    static const std::vector<Failure> failures = {
        {Import::kOpenFileMappingA, "OpenFileMappingA: NULL, ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
        {Import::kOpenFileMappingA, "OpenFileMappingA: NULL, ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
        {Import::kMapViewOfFile, "MapViewOfFile: NULL, ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kVariantChangeType, "VariantChangeType: E_OUTOFMEMORY", 0},
        {Import::kVariantCopy, "VariantCopy: E_OUTOFMEMORY", 0},
        {Import::kSysAllocString, "SysAllocString: NULL", 0},
        {Import::kSysAllocStringLen, "SysAllocStringLen: NULL", 0},
        {Import::kSysAllocStringByteLen, "SysAllocStringByteLen: NULL", 0},
        {Import::kMalloc, "malloc: NULL", 0},
        {Import::kRealloc, "realloc: NULL", 0},
        {Import::kCalloc, "calloc: NULL", 0},
        {Import::kMultiByteToWideChar, "MultiByteToWideChar: 0, ERROR_INSUFFICIENT_BUFFER", ERROR_INSUFFICIENT_BUFFER},
        {Import::kWideCharToMultiByte, "WideCharToMultiByte: 0, ERROR_INSUFFICIENT_BUFFER", ERROR_INSUFFICIENT_BUFFER},
        {Import::kLbInitStorage, "SendMessageW LB_INITSTORAGE: LB_ERRSPACE", 0},
        {Import::kLbAddString, "SendMessageW LB_ADDSTRING: LB_ERRSPACE", 0},
        {Import::kDialogBoxParamA, "DialogBoxParamA: -1", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kDialogBoxParamW, "DialogBoxParamW: -1", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kDialogBoxIndirectParamA, "DialogBoxIndirectParamA: -1", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kDialogBoxIndirectParamW, "DialogBoxIndirectParamW: -1", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kMessageBoxA, "MessageBoxA: 0", ERROR_NOT_ENOUGH_MEMORY},
        {Import::kMessageBoxW, "MessageBoxW: 0", ERROR_NOT_ENOUGH_MEMORY},
    };
    return failures;
}

const char* ModeName(FailureMode mode) { return mode == FailureMode::kOnce ? "once" : "from then on"; }

FailingImports::FailingImports(HMODULE module, HWND host_window) {
    InstallDyingWords();
    g = State{};
    g.host = host_window;
    for (const PatchPlan& p : kPlan) {
        g_patches[p.slot] = std::make_unique<ImportPatch>(module, p.module, p.function, p.stand_in);
        g_original[p.slot] = g_patches[p.slot]->original();
        if (!g_patches[p.slot]->active()) { g_patches[p.slot].reset(); }
    }
}

FailingImports::~FailingImports() {
    for (auto& patch : g_patches) { patch.reset(); }
}

bool FailingImports::imported(Import import) const {
    const PatchPlan* p = PlanFor(import);
    return p != nullptr && g_patches[p->slot] != nullptr;
}

std::vector<std::string> FailingImports::missing(const std::vector<Import>& required) const {
    std::vector<std::string> names;
    for (Import i : required) {
        if (!imported(i)) { names.push_back(PlanFor(i)->function); }
    }
    return names;
}

void FailingImports::count_only() {
    release_left_behind();
    for (int& n : g.calls) { n = 0; }
    g.failing = Import::kCount;
    g.failed = 0;
    g.box_count = 0;
    g.initialised = false;
    g.entry_count = 0;
    g.owner_disabled = false;
    g.plugin_proc = nullptr;
}

void FailingImports::fail(const Failure& failure, int k, FailureMode mode) {
    count_only();
    g.k = k;
    g.mode = mode;
    g.last_error = failure.last_error;
    g.failing = failure.import;
}

void FailingImports::release_left_behind() {
    for (const void*& view : g.views) {
        if (view != nullptr) { Real<decltype(&::UnmapViewOfFile)>(kPUnmapViewOfFile)(view); }
        view = nullptr;
    }
    for (HANDLE& section : g.sections) {
        if (section != nullptr) { Real<decltype(&::CloseHandle)>(kPCloseHandle)(section); }
        section = nullptr;
    }
}

int FailingImports::calls(Import import) const { return g.calls[static_cast<int>(import)]; }
int FailingImports::failed_calls() const { return g.failed; }
int FailingImports::open_sections() const { return Tracked(g.sections); }
int FailingImports::mapped_views() const { return Tracked(g.views); }

DialogObservation FailingImports::dialog() const {
    DialogObservation seen;
    for (int i = 0; i < g.box_count; ++i) { seen.message_boxes.emplace_back(g.boxes[i]); }
    seen.dialog_initialised = g.initialised;
    for (int i = 0; i < g.entry_count; ++i) { seen.list.emplace_back(g.entries[i]); }
    seen.owner_disabled_in_dialog = g.owner_disabled;
    return seen;
}

void SetCurrentRun(const char* description) {
    CopyText(g_current_run, description, static_cast<int>(sizeof g_current_run));
}

}  // namespace vorkast::test
