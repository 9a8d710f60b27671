// The text holder: one heap record with a wide copy of a text and, once asked for, its ANSI
// copy.
#include "variant/variant.h"
#include "variant/scoped_variant.h"

#include <new>
#include <utility>

namespace vorkast {

static_assert(sizeof(text_holder) == sizeof(void*), "a text holder is one pointer wide");

namespace {

// Drops one reference; the last one frees both copies and the record.
void release_record(text_holder_data* record) noexcept {
    if (::InterlockedDecrement(&record->refs) != 0) { return; }
    if (record->wide != nullptr) { ::SysFreeString(record->wide); }
    delete[] record->narrow;
    delete record;
}

// A record that is released unless handed over, so that an error never leaks it.
class pending_record {
public:
    explicit pending_record(text_holder_data* record) noexcept : record_(record) {}
    ~pending_record() {
        if (record_ != nullptr) { release_record(record_); }
    }
    pending_record(const pending_record&) = delete;
    pending_record& operator=(const pending_record&) = delete;

    text_holder_data* get() const noexcept { return record_; }
    text_holder_data* release() noexcept { return std::exchange(record_, nullptr); }

private:
    text_holder_data* record_;
};

// A record holding its own copy of `text` (null stays null).
text_holder_data* make_record(const wchar_t* text) {
    pending_record record(new (std::nothrow) text_holder_data{nullptr, nullptr, 1});
    if (record.get() == nullptr) { raise_status(E_OUTOFMEMORY); }
    record.get()->wide = ::SysAllocString(text);
    if (record.get()->wide == nullptr && text != nullptr) { raise_status(E_OUTOFMEMORY); }
    return record.release();
}

}  // namespace

void text_holder::assign_wide(const wchar_t* text) {
    // The holder is empty from here on, so a failure leaves it empty; the old record lives
    // until the copy is made, so a holder may be given its own text.
    const pending_record previous(std::exchange(data_, nullptr));
    data_ = make_record(text);
}

void text_holder::assign_variant(const VARIANT& value) {
    if (V_VT(&value) == VT_BSTR) {
        assign_wide(V_BSTR(&value));
        return;
    }
    const pending_record previous(std::exchange(data_, nullptr));
    scoped_variant text;  // cleared as an error passes
    check_status(::VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
    pending_record record(make_record(V_BSTR(text.get())));
    text.clear();
    data_ = record.release();
}

const char* text_holder::narrow() {
    if (data_ == nullptr) { return nullptr; }
    if (data_->narrow == nullptr) { data_->narrow = bstr_to_ansi(data_->wide); }
    return data_->narrow;
}

void text_holder::reset() noexcept {
    if (text_holder_data* record = std::exchange(data_, nullptr)) { release_record(record); }
}

}  // namespace vorkast
