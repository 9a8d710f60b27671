#include "tools/host/plugin_host.h"

namespace vorkast::host {

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n != 0 ? std::string(text, n) : "system error " + std::to_string(error);
    if (text != nullptr) { ::LocalFree(text); }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    module_ = ::LoadLibraryA(path.c_str());
    if (module_ == nullptr) {
        const DWORD error = ::GetLastError();
        throw HostError("cannot load " + path + ": " + SystemMessage(error));
    }
}

PluginLibrary::~PluginLibrary() { ::FreeLibrary(module_); }

FARPROC PluginLibrary::find(const char* name) const { return ::GetProcAddress(module_, name); }

PluginInterface::PluginInterface(const PluginLibrary& library) : library_(&library) {
    dlltype = library.require_entry<DllTypeFn>("dlltype", "_dlltype@0");
    init = library.require_entry<InitFn>("init", "_init@0");
    getparam = library.require_entry<GetParamFn>("getparam", "_getparam@4");
    getinfo = library.require_entry<GetInfoFn>("getinfo", "_getinfo@4");
    dllstartup = library.require_entry<StartupFn>("dllstartup", "_dllstartup@8");
    dllshutdown = library.require_entry<ShutdownFn>("dllshutdown", "_dllshutdown@4");
    configure = library.find_entry<ConfigureFn>("configure", "_configure@0");
}

ValueFn PluginInterface::value_function(const std::string& name) const {
    const std::string decorated = "_" + name + "@8";
    return library_->find_entry<ValueFn>(name.c_str(), decorated.c_str());
}

PluginInstance::PluginInstance(const PluginInterface& plugin, HWND host_window)
    : plugin_(plugin), handle_(plugin.dllstartup(host_window, 0)) {
    if (handle_ == nullptr) { throw HostError("dllstartup returned no instance"); }
}

PluginInstance::~PluginInstance() { plugin_.dllshutdown(handle_); }

std::string PluginInstance::call(ValueFn fn, const char* parameter) const {
    const char* answer = fn(handle_, parameter);
    if (answer == nullptr) { throw HostError("the plug-in answered with a null text"); }
    return answer;
}

}  // namespace vorkast::host
