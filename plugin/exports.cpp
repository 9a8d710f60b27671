// The host's discovery, description and lifecycle entry points.
#include "plugin/exports.h"

#include "plugin/exception_globals.h"
#include "plugin/instance.h"
#include "plugin/module_state.h"

namespace {

// ASCII-only case-insensitive equality, as the runtime's _stricmp compares in the C locale.
bool EqualsIgnoringAsciiCase(const char* a, const char* b) noexcept {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        const auto ca = fold(static_cast<unsigned char>(*a));
        const auto cb = fold(static_cast<unsigned char>(*b));
        if (ca != cb) { return false; }
        if (ca == 0) { return true; }
    }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) { vorkast::SetModuleInstance(module); }
    if (reason == DLL_THREAD_DETACH) { vorkast::ReleaseThreadExceptionGlobals(); }
    return TRUE;
}

int WINAPI dlltype() noexcept { return 1; }

const char* WINAPI init() noexcept { return "ValueBySensor|ValueByName"; }

const char* WINAPI getparam(const char* function_name) noexcept {
    if (function_name == nullptr) { return "|"; }
    if (EqualsIgnoringAsciiCase(function_name, "ValueBySensor")) { return "sensor number|"; }
    if (EqualsIgnoringAsciiCase(function_name, "ValueByname")) { return "sensor name|"; }
    return "|";
}

const char* WINAPI getinfo(DWORD number) noexcept {
    switch (number) {
        case 0: return "Vorkast Plugin - For Deskovia Version 2 Interface % Vorkast Build 512";
        case 1: return "_qzn_";
        case 2: return "1.0a";
        case 3:
        case 4: return "22.07.05";
        default: return "";
    }
}

VorkastInstance WINAPI dllstartup(HWND host_window, DWORD) noexcept {
    vorkast::SetHostWindow(host_window);
    return vorkast::NewInstance();
}

int WINAPI dllshutdown(VorkastInstance instance) noexcept {
    vorkast::DeleteInstance(static_cast<vorkast::InstanceString*>(instance));
    return 0;
}
