// Tools for watching the variant layer: heap figures with the BSTR cache out of the way,
// stand-ins for platform functions that fail on request, a reference-counting COM object,
// and the platform's own text conversions for computing expectations.
#pragma once

#include "tests/support/import_patch.h"
#include "tests/support/process_resources.h"
#include "variant/variant.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace vorkast::test {

// True when OLE Automation's BSTR cache is off in this process (it is turned off as the
// program starts), so that a freed string goes back to the heap at once and shows there.
bool BstrCacheOff();

// Heap bytes in use after the second run of `operation` minus before it. The first run
// absorbs one-time allocations of the runtime and the platform (thread data, caches).
// The operation must not use test assertions: they allocate.
template <class Operation>
long long HeapGrowth(Operation&& operation) {
    operation();
    const std::size_t before = HeapBusyBytes();
    operation();
    const std::size_t after = HeapBusyBytes();
    return static_cast<long long>(after) - static_cast<long long>(before);
}

// The status a call raised as _com_error, or kNothingRaised.
constexpr HRESULT kNothingRaised = 0x7EADBEEF;
template <class Call>
HRESULT RaisedStatus(Call&& call) {
    try {
        call();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return kNothingRaised;
}

// Which code-page conversion a FailingConversion stands in for.
enum class Conversion { kToWide, kToNarrow };

// For its lifetime, this program's calls of MultiByteToWideChar (kToWide) or
// WideCharToMultiByte (kToNarrow) reach the platform until call number `failing_call`
// (1-based); that call and every later one fails, leaving `last_error` as the thread's last
// error. failing_call 0 never fails, which just counts calls.
class FailingConversion {
public:
    FailingConversion(Conversion which, int failing_call, DWORD last_error);
    ~FailingConversion();
    bool active() const { return patch_.active(); }
    int calls() const;
    // Counts from 0 again, so that the same call fails in a repeated operation.
    void restart();

private:
    ImportPatch patch_;
    Conversion which_;
};

// For its lifetime, this program's calls of SysAllocString return null (out of memory).
class FailingSysAllocString {
public:
    FailingSysAllocString();
    bool active() const { return patch_.active(); }

private:
    ImportPatch patch_;
};

// An IErrorInfo that only counts its references (it starts with the one its maker holds).
class CountingErrorInfo final : public IErrorInfo {
public:
    LONG refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }

private:
    LONG refs_ = 1;
};

// An IDispatch whose value (DISPID_VALUE) is `text`, or whose every call fails with
// `failure` when that is negative. Counts its references like CountingErrorInfo.
class FakeDispatch final : public IDispatch {
public:
    explicit FakeDispatch(const wchar_t* text, HRESULT failure = S_OK)
        : text_(text), failure_(failure) {}
    LONG refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    const wchar_t* text_;
    HRESULT failure_;
    LONG refs_ = 1;
};

// The platform's own conversions (CP_ACP), for expectations that hold in any code page.
std::wstring PlatformWide(const std::string& text);
std::string PlatformNarrow(const std::wstring& text);

// The wide characters of a BSTR by its length prefix (null gives "").
std::wstring BstrText(BSTR text);

// `length` characters of a repeating pattern, so that a lost or moved piece shows.
std::string PatternText(std::size_t length);

// Status codes and types as hex, for messages.
std::string Hex(unsigned long value);

}  // namespace vorkast::test
