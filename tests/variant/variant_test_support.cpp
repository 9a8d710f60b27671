#include "tests/variant/variant_test_support.h"

#include <cstdio>
#include <cstring>

namespace vorkast::test {
namespace {

// OLE Automation keeps freed strings in a cache for reuse, which hides them from heap
// figures. SetOaNoCache turns it off; it has to run before the strings to watch exist, so it
// runs as the program starts. The OANOCACHE environment variable does the same when it is
// set before the library loads.
bool TurnBstrCacheOff() {
    const HMODULE oleaut = ::GetModuleHandleW(L"oleaut32.dll");
    const FARPROC set_no_cache =
        oleaut != nullptr ? ::GetProcAddress(oleaut, "SetOaNoCache") : nullptr;
    if (set_no_cache != nullptr) {
        reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(set_no_cache))();
        return true;
    }
    return ::GetEnvironmentVariableW(L"OANOCACHE", nullptr, 0) != 0;
}
const bool kBstrCacheOff = TurnBstrCacheOff();

struct ConversionScript {
    int failing_call = 0;
    DWORD last_error = 0;
    int calls = 0;
    const void* original = nullptr;
};
ConversionScript g_scripts[2];

ConversionScript& Script(Conversion which) {
    return g_scripts[which == Conversion::kToWide ? 0 : 1];
}

bool FailsNow(ConversionScript& script) {
    ++script.calls;
    if (script.failing_call > 0 && script.calls >= script.failing_call) {
        ::SetLastError(script.last_error);
        return true;
    }
    return false;
}

int WINAPI ScriptedToWide(UINT code_page, DWORD flags, LPCCH text, int count, LPWSTR out,
                          int out_count) {
    ConversionScript& script = Script(Conversion::kToWide);
    if (FailsNow(script)) { return 0; }
    return reinterpret_cast<decltype(&::MultiByteToWideChar)>(script.original)(
        code_page, flags, text, count, out, out_count);
}

int WINAPI ScriptedToNarrow(UINT code_page, DWORD flags, LPCWCH text, int count, LPSTR out,
                            int out_count, LPCCH default_char, LPBOOL used_default) {
    ConversionScript& script = Script(Conversion::kToNarrow);
    if (FailsNow(script)) { return 0; }
    return reinterpret_cast<decltype(&::WideCharToMultiByte)>(script.original)(
        code_page, flags, text, count, out, out_count, default_char, used_default);
}

BSTR WINAPI NullSysAllocString(const OLECHAR*) {
    return nullptr;
}

}  // namespace

bool BstrCacheOff() {
    return kBstrCacheOff;
}

FailingConversion::FailingConversion(Conversion which, int failing_call, DWORD last_error)
    : patch_("kernel32.dll",
             which == Conversion::kToWide ? "MultiByteToWideChar" : "WideCharToMultiByte",
             which == Conversion::kToWide ? reinterpret_cast<const void*>(&ScriptedToWide)
                                          : reinterpret_cast<const void*>(&ScriptedToNarrow)),
      which_(which) {
    ConversionScript& script = Script(which);
    script = ConversionScript{};
    script.failing_call = failing_call;
    script.last_error = last_error;
    script.original = patch_.original();
}

FailingConversion::~FailingConversion() = default;

int FailingConversion::calls() const {
    return Script(which_).calls;
}

void FailingConversion::restart() {
    Script(which_).calls = 0;
}

FailingSysAllocString::FailingSysAllocString()
    : patch_("oleaut32.dll", "SysAllocString", reinterpret_cast<const void*>(&NullSysAllocString)) {}

HRESULT STDMETHODCALLTYPE CountingErrorInfo::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IErrorInfo) {
        *object = static_cast<IErrorInfo*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeDispatch::QueryInterface(REFIID iid, void** object) {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakeDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*,
                                               VARIANT* result, EXCEPINFO*, UINT*) {
    if (failure_ < 0) { return failure_; }
    if (id != DISPID_VALUE || result == nullptr) { return DISP_E_MEMBERNOTFOUND; }
    ::VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = ::SysAllocString(text_);
    return S_OK;
}

std::wstring PlatformWide(const std::string& text) {
    if (text.empty()) { return {}; }
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string PlatformNarrow(const std::wstring& text) {
    if (text.empty()) { return {}; }
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size,
                          nullptr, nullptr);
    return narrow;
}

std::wstring BstrText(BSTR text) {
    return text != nullptr ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

std::string PatternText(std::size_t length) {
    static const char kPattern[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU";
    std::string text(length, ' ');
    for (std::size_t i = 0; i < length; ++i) {
        // A mark every 100 characters, so that a shift by a whole period shows as well.
        text[i] = i % 100 == 0 ? '|' : kPattern[i % (sizeof kPattern - 1)];
    }
    return text;
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

}  // namespace vorkast::test
