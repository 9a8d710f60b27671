// The error object and the three ways a status turns into one.
#include "variant/variant.h"

namespace vorkast {

// Virtual-table pointer, then status, error information and message, in that order.
static_assert(sizeof(_com_error) == 4 * sizeof(void*), "unexpected _com_error layout");

_com_error::_com_error(HRESULT status, IErrorInfo* info, bool add_ref) noexcept
    : status_(status), info_(info), message_(nullptr) {
    if (info_ != nullptr && add_ref) { info_->AddRef(); }
}

_com_error::_com_error(const _com_error& other) noexcept
    : status_(other.status_), info_(other.info_), message_(nullptr) {
    if (info_ != nullptr) { info_->AddRef(); }
}

_com_error& _com_error::operator=(const _com_error& other) noexcept {
    if (this != &other) {
        // Take the new reference before dropping the old one: both may name the same object.
        IErrorInfo* const previous = info_;
        info_ = other.info_;
        if (info_ != nullptr) { info_->AddRef(); }
        if (previous != nullptr) { previous->Release(); }
        status_ = other.status_;
        if (message_ != nullptr) {
            ::LocalFree(message_);
            message_ = nullptr;
        }
    }
    return *this;
}

_com_error::~_com_error() {
    if (info_ != nullptr) { info_->Release(); }
    if (message_ != nullptr) { ::LocalFree(message_); }
}

void raise_status(HRESULT status) {
    throw _com_error(status);
}

void check_status(HRESULT status) {
    if (status < 0) { raise_status(status); }
}

HRESULT status_from_last_error() noexcept {
    const auto error = static_cast<LONG>(::GetLastError());
    if (error > 0) {
        return static_cast<HRESULT>(0x80070000u | (static_cast<DWORD>(error) & 0xFFFFu));
    }
    return static_cast<HRESULT>(error);
}

}  // namespace vorkast
