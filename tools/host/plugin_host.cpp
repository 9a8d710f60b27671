#include "tools/host/plugin_host.h"

#include <cstdio>
#include <cstring>

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

namespace {

// The machine field of a PE file's header: 0x14C for 32-bit x86, 0x8664 for x64; 0 when the
// file cannot be read as a PE image.
WORD PeMachine(const std::string& path) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) { return 0; }
    WORD machine = 0;
    unsigned char dos[64];
    DWORD n = 0;
    if (::ReadFile(file, dos, sizeof dos, &n, nullptr) && n == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        const LONG pe = static_cast<LONG>(dos[60] | (dos[61] << 8) | (dos[62] << 16) | (dos[63] << 24));
        unsigned char head[6];
        if (pe > 0 && ::SetFilePointer(file, pe, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            ::ReadFile(file, head, sizeof head, &n, nullptr) && n == sizeof head &&
            std::memcmp(head, "PE\0\0", 4) == 0) {
            machine = static_cast<WORD>(head[4] | (head[5] << 8));
        }
    }
    ::CloseHandle(file);
    return machine;
}

std::string LoadFailure(const std::string& path, DWORD error) {
    std::string reason = SystemMessage(error);
    const auto insert = reason.find("%1");  // "%1 is not a valid Win32 application"
    if (insert != std::string::npos) { reason.replace(insert, 2, "the file"); }
    std::string message = "cannot load " + path + ": " + reason;
    if (error == ERROR_BAD_EXE_FORMAT) {
        const WORD machine = PeMachine(path);
        const bool this_is_64 = sizeof(void*) == 8;
        if (machine == IMAGE_FILE_MACHINE_I386 && this_is_64) {
            message += " (it is a 32-bit library; this program is 64-bit: use the 32-bit build)";
        } else if (machine == IMAGE_FILE_MACHINE_AMD64 && !this_is_64) {
            message += " (it is a 64-bit library; this program is 32-bit: use the 64-bit build)";
        }
    }
    return message;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    // No system message box for a missing or broken file: the error comes back as text.
    DWORD old_mode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
    module_ = ::LoadLibraryA(path.c_str());
    const DWORD error = ::GetLastError();
    ::SetThreadErrorMode(old_mode, nullptr);
    if (module_ == nullptr) { throw HostError(LoadFailure(path, error)); }
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

ValueFn PluginInterface::require_value_function(const std::string& name) const {
    const std::string decorated = "_" + name + "@8";
    return library_->require_entry<ValueFn>(name.c_str(), decorated.c_str());
}

std::vector<std::string> PluginInterface::function_names() const {
    const char* list = init();
    return list != nullptr ? SplitList(list) : std::vector<std::string>{};
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

std::string TextOrNull(const char* text) { return text != nullptr ? std::string(text) : "(null)"; }

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = list.find('|', start);
        std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) { parts.push_back(std::move(part)); }
        if (end == std::string::npos) { return parts; }
        start = end + 1;
    }
}

FileVersion ReadFileVersion(const std::string& path) {
    FileVersion version;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) { return version; }
    std::vector<unsigned char> data(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data())) { return version; }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr &&
        length >= sizeof *fixed) {
        char text[64];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                      LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                      LOWORD(fixed->dwFileVersionLS));
        version.numeric = text;
        version.present = true;
    }
    // The strings of the first translation that the resource lists.
    struct Translation {
        WORD language;
        WORD code_page;
    };
    Translation* translations = nullptr;
    if (!::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                          &length) ||
        translations == nullptr || length < sizeof(Translation)) {
        return version;
    }
    auto string_value = [&](const char* name) {
        char key[96];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translations->language,
                      translations->code_page, name);
        char* value = nullptr;
        UINT chars = 0;
        if (::VerQueryValueA(data.data(), key, reinterpret_cast<void**>(&value), &chars) && value != nullptr) {
            return std::string(value);
        }
        return std::string();
    };
    version.file_version = string_value("FileVersion");
    version.product_version = string_value("ProductVersion");
    version.description = string_value("FileDescription");
    version.present = true;
    return version;
}

namespace {
constexpr char kHostWindowClass[] = "VorkastProbeHostWindow";
}

HostWindow::HostWindow(const char* title, bool visible) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = ::DefWindowProcA;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = kHostWindowClass;
    ::RegisterClassA(&window_class);  // fails harmlessly when already registered
    // A desktop that is still starting (or, under Wine, whose desktop process is just ending)
    // refuses the first window now and then: try again for a short while.
    DWORD error = 0;
    for (int attempt = 0; attempt < 10 && window_ == nullptr; ++attempt) {
        if (attempt != 0) { ::Sleep(200); }
        window_ = ::CreateWindowExA(0, kHostWindowClass, title, WS_OVERLAPPEDWINDOW, 80, 80, 420, 160, nullptr,
                                    nullptr, window_class.hInstance, nullptr);
        error = ::GetLastError();
    }
    if (window_ == nullptr) {
        throw HostError("cannot create the host window (is there a desktop to show it on?): " +
                        (error != 0 ? SystemMessage(error) : std::string("no reason given")));
    }
    if (visible) {
        ::ShowWindow(window_, SW_SHOWNORMAL);
        ::UpdateWindow(window_);
    }
}

HostWindow::~HostWindow() {
    if (::IsWindow(window_)) { ::DestroyWindow(window_); }
}

}  // namespace vorkast::host
