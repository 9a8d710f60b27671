// Loads a plug-in of the desktop host's interface and calls it the way the host does:
// LoadLibrary, GetProcAddress, and calls through stdcall function pointers.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vorkast::host {

using DllTypeFn = int(WINAPI*)();
using InitFn = const char*(WINAPI*)();
using GetParamFn = const char*(WINAPI*)(const char*);
using GetInfoFn = const char*(WINAPI*)(DWORD);
using StartupFn = void*(WINAPI*)(HWND, DWORD);
using ShutdownFn = int(WINAPI*)(void*);
using ConfigureFn = int(WINAPI*)();
using ValueFn = const char*(WINAPI*)(void*, const char*);

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Owns a loaded module; FreeLibrary in the destructor.
class PluginLibrary {
public:
    // Throws HostError naming the path and the system's reason when it cannot be loaded.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    HMODULE module() const { return module_; }
    const std::string& path() const { return path_; }

    // The export of that name, or null.
    FARPROC find(const char* name) const;

    // The export under its plain name, else under its decorated name; null when neither exists.
    template <class Fn>
    Fn find_entry(const char* plain, const char* decorated) const {
        FARPROC p = find(plain);
        if (p == nullptr) { p = find(decorated); }
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
    }

    // As find_entry, but a missing export throws HostError naming it.
    template <class Fn>
    Fn require_entry(const char* plain, const char* decorated) const {
        Fn fn = find_entry<Fn>(plain, decorated);
        if (fn == nullptr) {
            throw HostError(path_ + " does not export " + plain + " (nor " + decorated + ")");
        }
        return fn;
    }

private:
    HMODULE module_ = nullptr;
    std::string path_;
};

// The host interface of one loaded plug-in. The value functions and configure are optional
// (null when the plug-in lacks them); the others are required.
struct PluginInterface {
    DllTypeFn dlltype = nullptr;
    InitFn init = nullptr;
    GetParamFn getparam = nullptr;
    GetInfoFn getinfo = nullptr;
    StartupFn dllstartup = nullptr;
    ShutdownFn dllshutdown = nullptr;
    ConfigureFn configure = nullptr;

    explicit PluginInterface(const PluginLibrary& library);

    // A value function by the name that init lists, or null.
    ValueFn value_function(const std::string& name) const;
    // As value_function, but a missing export throws HostError naming it.
    ValueFn require_value_function(const std::string& name) const;

    // The function names that init lists (its text split at '|', empty parts left out); an
    // init that answers null lists none.
    std::vector<std::string> function_names() const;

private:
    const PluginLibrary* library_;
};

// One host instance: dllstartup in the constructor, dllshutdown in the destructor.
class PluginInstance {
public:
    PluginInstance(const PluginInterface& plugin, HWND host_window);
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    void* handle() const { return handle_; }
    // Calls the value function and copies its answer (the pointer is valid only until the
    // next call on this instance). A null answer is reported as HostError.
    std::string call(ValueFn fn, const char* parameter) const;

private:
    const PluginInterface& plugin_;
    void* handle_;
};

// Last system error as text, for messages.
std::string SystemMessage(DWORD error);

// A plug-in's text as a string: "(null)" for a null pointer, which the interface never allows
// but a faulty plug-in may return.
std::string TextOrNull(const char* text);

// "a|b|" into {"a", "b"}: the parts of a '|'-separated list, empty parts left out.
std::vector<std::string> SplitList(const std::string& list);

// The version resource of a module file, as Explorer shows it.
struct FileVersion {
    bool present = false;
    std::string numeric;        // FILEVERSION as "1.0.0.0"
    std::string file_version;   // the FileVersion string
    std::string product_version;
    std::string description;    // FileDescription
};
FileVersion ReadFileVersion(const std::string& path);

// A top-level window standing in for the host's own window: what a real host passes to
// dllstartup and what owns the plug-in's dialog. Destroyed with the object.
class HostWindow {
public:
    HostWindow(const char* title, bool visible);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

}  // namespace vorkast::host
