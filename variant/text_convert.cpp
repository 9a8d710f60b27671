// Text between the ANSI code page and wide strings. A failed conversion raises the thread's
// last error as a status, as it stands (even 0); a failed allocation raises E_OUTOFMEMORY.
#include "variant/variant.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace vorkast {
namespace {

// Texts that need fewer wide characters than this (terminator included) are converted
// through a buffer on the stack, so a short text costs no allocation besides its BSTR.
// The buffer is a fixed array rather than alloca: a failing stack probe cannot be caught
// without structured exception handling, and a fixed frame at least has a known size.
constexpr int kStackBufferChars = 4096;

// Second pass of the ANSI to wide conversion into `buffer` (of `wide_count` characters,
// terminator included), and the BSTR made from it.
BSTR convert_into(const char* text, int byte_count, wchar_t* buffer, int wide_count) {
    if (::MultiByteToWideChar(CP_ACP, 0, text, byte_count, buffer, wide_count) == 0) {
        raise_status(status_from_last_error());
    }
    BSTR result = ::SysAllocString(buffer);
    if (result == nullptr) { raise_status(E_OUTOFMEMORY); }
    return result;
}

}  // namespace

BSTR ansi_to_bstr(const char* text) {
    if (text == nullptr) { return nullptr; }
    const std::size_t length = std::strlen(text);
    if (length >= static_cast<std::size_t>(INT_MAX)) { raise_status(E_OUTOFMEMORY); }
    const int byte_count = static_cast<int>(length) + 1;  // the terminator is converted too
    const int wide_count = ::MultiByteToWideChar(CP_ACP, 0, text, byte_count, nullptr, 0);
    if (wide_count == 0) { raise_status(status_from_last_error()); }

    if (wide_count < kStackBufferChars) {
        wchar_t buffer[kStackBufferChars];
        return convert_into(text, byte_count, buffer, wide_count);
    }
    // Freed on every path, including when the conversion raises.
    const std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[wide_count]);
    if (!buffer) { raise_status(E_OUTOFMEMORY); }
    return convert_into(text, byte_count, buffer.get(), wide_count);
}

char* bstr_to_ansi(const wchar_t* text) {
    if (text == nullptr) { return nullptr; }
    // Up to the first zero character, whatever a BSTR's length prefix says.
    const std::size_t length = std::wcslen(text);
    if (length >= static_cast<std::size_t>(INT_MAX)) { raise_status(E_OUTOFMEMORY); }
    const int wide_count = static_cast<int>(length) + 1;
    const int byte_count =
        ::WideCharToMultiByte(CP_ACP, 0, text, wide_count, nullptr, 0, nullptr, nullptr);
    if (byte_count == 0) { raise_status(status_from_last_error()); }

    std::unique_ptr<char[]> result(new (std::nothrow) char[byte_count]);
    if (!result) { raise_status(E_OUTOFMEMORY); }
    if (::WideCharToMultiByte(CP_ACP, 0, text, wide_count, result.get(), byte_count, nullptr,
                              nullptr) == 0) {
        raise_status(status_from_last_error());
    }
    return result.release();
}

}  // namespace vorkast
