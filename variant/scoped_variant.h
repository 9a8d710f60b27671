// A VARIANT that is cleared when it goes out of scope, also while an exception passes.
#pragma once

#include "variant/variant.h"

#include <windows.h>
#include <oaidl.h>

namespace vorkast {

class scoped_variant {
public:
    scoped_variant() noexcept { ::VariantInit(&value_); }
    ~scoped_variant() { ::VariantClear(&value_); }

    scoped_variant(scoped_variant&& other) noexcept : value_(other.value_) {
        ::VariantInit(&other.value_);
    }
    scoped_variant& operator=(scoped_variant&& other) noexcept {
        if (this != &other) {
            ::VariantClear(&value_);
            value_ = other.value_;
            ::VariantInit(&other.value_);
        }
        return *this;
    }
    scoped_variant(const scoped_variant&) = delete;
    scoped_variant& operator=(const scoped_variant&) = delete;

    VARIANT* get() noexcept { return &value_; }
    const VARIANT& operator*() const noexcept { return value_; }
    const VARIANT* operator->() const noexcept { return &value_; }

    // clear_variant: empties the variant, raising a failed status.
    void clear() { clear_variant(&value_); }

private:
    VARIANT value_;
};

}  // namespace vorkast
