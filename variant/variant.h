// The thin layer between OLE Automation and the rest of the plug-in: failed statuses become a
// thrown _com_error, text moves between the ANSI code page and BSTRs, and text_holder turns any
// variant into wide and (cached) narrow text.
//
// Nothing here catches: every failure is raised through raise_status, and the value functions
// catch everything at the export boundary.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vorkast {

// The error object thrown for every failed status. Kept in our namespace so it never clashes
// with the class of the same name in <comdef.h>. No base class; thrown by value.
class _com_error {
public:
    // Takes one reference on `info` when add_ref is true (raise_status passes none).
    explicit _com_error(HRESULT status, IErrorInfo* info = nullptr, bool add_ref = false) noexcept;
    // Copies the status and the error-information reference (one more AddRef); the copy's
    // message cache starts empty.
    _com_error(const _com_error& other) noexcept;
    _com_error& operator=(const _com_error& other) noexcept;
    // Releases the interface and LocalFree's the message, each only when present.
    virtual ~_com_error();

    HRESULT Error() const noexcept { return status_; }
    IErrorInfo* ErrorInfo() const noexcept { return info_; }  // no AddRef

private:
    HRESULT status_;
    IErrorInfo* info_;
    mutable LPSTR message_;  // message-text cache, LocalAlloc'ed; nothing in this system fills it
};

// Throws a _com_error carrying `status` and no error information. Never returns.
[[noreturn]] void raise_status(HRESULT status);
// raise_status when `status` is negative; nothing otherwise.
void check_status(HRESULT status);
// The thread's last error e as a status: 0x80070000 | (e & 0xFFFF) when e > 0, else e itself.
HRESULT status_from_last_error() noexcept;

// VariantCopy(destination, source), a failed status raised. Returns destination.
VARIANT* copy_variant(VARIANT* destination, const VARIANT* source);
// VariantClear, a failed status raised.
void clear_variant(VARIANT* variant);
// Clears the variant and makes it a VT_BSTR holding `text` converted from the ANSI code page.
// If the conversion raises, the variant is left empty (VT_EMPTY), never claiming a string.
VARIANT* set_variant_text(VARIANT* variant, const char* text);

// ANSI (CP_ACP) to a new BSTR owned by the caller; null gives null, "" an empty BSTR.
BSTR ansi_to_bstr(const char* text);
// Wide text up to its first zero character to a new ANSI string, allocated with new[] and
// owned by the caller (delete[]); null gives null. The BSTR length prefix is not consulted.
char* bstr_to_ansi(const wchar_t* text);

// A text holder's heap record. It owns both copies of the text.
struct text_holder_data {
    BSTR wide;    // the holder's own wide copy; null for an absent text
    char* narrow; // ANSI copy made on first request (new[]), kept until the record is freed
    LONG refs;    // 1 when made; interlocked decrement frees at 0
};

// Handle to one text_holder_data record, or to none (empty). One pointer wide; never shares
// its record, so it is neither copyable nor assignable.
class text_holder {
public:
    text_holder() noexcept = default;
    ~text_holder() { reset(); }
    text_holder(const text_holder&) = delete;
    text_holder& operator=(const text_holder&) = delete;

    // Replaces the record by a new one holding a copy of `text` (up to its first zero
    // character). Null is no error: it gives a record whose wide text is null. On failure the
    // holder is empty and E_OUTOFMEMORY is raised.
    void assign_wide(const wchar_t* text);
    // Fills an empty holder with the text of `value`: a VT_BSTR's string directly, any other
    // type through VariantChangeType(..., 0, VT_BSTR). `value` is never changed.
    void assign_variant(const VARIANT& value);
    // The narrow copy, converted at the first call and the same pointer afterwards; null for an
    // empty holder or an absent text.
    const char* narrow();
    // Releases the record, if any, and empties the handle.
    void reset() noexcept;

    bool empty() const noexcept { return data_ == nullptr; }
    const wchar_t* wide() const noexcept { return data_ != nullptr ? data_->wide : nullptr; }

private:
    text_holder_data* data_ = nullptr;
};

}  // namespace vorkast
