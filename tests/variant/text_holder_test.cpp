// The text holder: the text of any variant, wide and (once, cached) narrow.
#include "tests/variant/variant_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

std::wstring Text(const wchar_t* text) {
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// What VariantChangeType(..., 0, VT_BSTR) makes of `value`, or its failed status.
struct Coerced {
    HRESULT status;
    std::wstring text;
};
Coerced CoerceToText(const VARIANT& value) {
    VARIANT text;
    ::VariantInit(&text);
    Coerced coerced{::VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR), {}};
    if (SUCCEEDED(coerced.status)) { coerced.text = BstrText(V_BSTR(&text)); }
    ::VariantClear(&text);
    return coerced;
}

VARIANT Variant(VARTYPE type) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = type;
    return v;
}

struct VariantCase {
    std::string name;
    VARIANT value;
};

TEST(TextHolder, GivesTheTextThatTheCoercionGivesForEachType) {
    BSTR referenced_text = ::SysAllocString(L"by reference \u00E9");
    LONG referenced_number = 1234567;
    FakeDispatch object(L"from the object");
    std::vector<VariantCase> cases;
    auto add = [&](const char* name, VARTYPE type, auto&& fill) {
        VARIANT v = Variant(type);
        fill(v);
        cases.push_back({name, v});
    };
    add("VT_EMPTY", VT_EMPTY, [](VARIANT&) {});
    add("VT_I4", VT_I4, [](VARIANT& v) { V_I4(&v) = -42; });
    add("VT_UI1", VT_UI1, [](VARIANT& v) { V_UI1(&v) = 200; });
    add("VT_I8", VT_I8, [](VARIANT& v) { V_I8(&v) = -9000000000LL; });
    add("VT_R4", VT_R4, [](VARIANT& v) { V_R4(&v) = 0.1f; });
    add("VT_R8", VT_R8, [](VARIANT& v) { V_R8(&v) = 3.25; });
    add("VT_R8 large", VT_R8, [](VARIANT& v) { V_R8(&v) = -1.5e300; });
    add("VT_BOOL", VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; });
    add("VT_DATE", VT_DATE, [](VARIANT& v) { V_DATE(&v) = 45000.75; });
    add("VT_CY", VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 12345678; });
    add("VT_BSTR", VT_BSTR, [&](VARIANT& v) { V_BSTR(&v) = referenced_text; });
    add("VT_BSTR|VT_BYREF", VT_BSTR | VT_BYREF, [&](VARIANT& v) { V_BSTRREF(&v) = &referenced_text; });
    add("VT_I4|VT_BYREF", VT_I4 | VT_BYREF, [&](VARIANT& v) { V_I4REF(&v) = &referenced_number; });
    add("VT_DISPATCH", VT_DISPATCH, [&](VARIANT& v) { V_DISPATCH(&v) = &object; });

    for (const VariantCase& c : cases) {
        const Coerced expected = CoerceToText(c.value);
        ASSERT_GE(expected.status, 0) << c.name << ": the coercion failed";
        VARIANT before;
        std::memcpy(&before, &c.value, sizeof before);

        text_holder holder;
        holder.assign_variant(c.value);
        ASSERT_FALSE(holder.empty()) << c.name;
        EXPECT_TRUE(Text(holder.wide()) == expected.text) << c.name << ": wide text differs";
        const char* narrow = holder.narrow();
        ASSERT_NE(narrow, nullptr) << c.name;
        EXPECT_EQ(std::string(narrow), PlatformNarrow(expected.text)) << c.name;
        if (V_VT(&c.value) == VT_BSTR) {
            EXPECT_NE(holder.wide(), V_BSTR(&c.value)) << c.name << ": the string is not copied";
        }
        EXPECT_EQ(std::memcmp(&before, &c.value, sizeof before), 0) << c.name << ": value changed";
    }
    EXPECT_TRUE(BstrText(referenced_text) == L"by reference \u00E9") << "the text changed";
    EXPECT_EQ(object.refs(), 1) << "references left on the object";
    ::SysFreeString(referenced_text);
}

TEST(TextHolder, AbsentAndEmptyTexts) {
    text_holder holder;
    EXPECT_EQ(holder.narrow(), nullptr) << "empty holder";
    EXPECT_EQ(holder.wide(), nullptr) << "empty holder";

    // An absent text is no error: the holder has a record whose texts are null.
    VARIANT null_string = Variant(VT_BSTR);
    V_BSTR(&null_string) = nullptr;
    holder.assign_variant(null_string);
    EXPECT_FALSE(holder.empty());
    EXPECT_EQ(holder.wide(), nullptr);
    EXPECT_EQ(holder.narrow(), nullptr);
    EXPECT_EQ(holder.narrow(), nullptr) << "second request";
    holder.assign_wide(nullptr);
    EXPECT_FALSE(holder.empty());
    EXPECT_EQ(holder.narrow(), nullptr) << "assign_wide(nullptr)";

    holder.assign_wide(L"");
    ASSERT_NE(holder.wide(), nullptr);
    EXPECT_EQ(::SysStringLen(const_cast<BSTR>(holder.wide())), 0u);
    ASSERT_NE(holder.narrow(), nullptr);
    EXPECT_STREQ(holder.narrow(), "");
}

TEST(TextHolder, CutsATextAtAZeroInsideIt) {
    BSTR text = ::SysAllocStringLen(L"12\0 V", 5);
    VARIANT direct = Variant(VT_BSTR);
    V_BSTR(&direct) = text;
    VARIANT referenced = Variant(VT_BSTR | VT_BYREF);  // coerced: the copy keeps all 5
    V_BSTRREF(&referenced) = &text;
    for (const VARIANT* value : {&direct, &referenced}) {
        text_holder holder;
        holder.assign_variant(*value);
        ASSERT_NE(holder.wide(), nullptr);
        EXPECT_EQ(::SysStringLen(const_cast<BSTR>(holder.wide())), 2u)
            << "type " << V_VT(value) << ": wide copy's length";
        EXPECT_STREQ(holder.narrow(), "12") << "type " << V_VT(value);
    }
    ::SysFreeString(text);
}

TEST(TextHolder, ConvertsToNarrowOnceAndKeepsThePointer) {
    text_holder holder;
    holder.assign_wide(L"Fan \u00E9 1450");
    FailingConversion counting(Conversion::kToNarrow, 0, 0);
    ASSERT_TRUE(counting.active());
    const char* first = holder.narrow();
    const int calls = counting.calls();
    const char* second = holder.narrow();
    EXPECT_GT(calls, 0) << "the first request converted nothing";
    EXPECT_EQ(counting.calls(), calls) << "the second request converted again";
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::string(second), PlatformNarrow(L"Fan \u00E9 1450"));
}

TEST(TextHolder, FailedNarrowConversionKeepsTheWideText) {
    text_holder holder;
    holder.assign_wide(L"Pump 3");
    HRESULT got = kNothingRaised;
    {
        FailingConversion failing(Conversion::kToNarrow, 2, 0);
        ASSERT_TRUE(failing.active());
        got = RaisedStatus([&] { holder.narrow(); });
    }
    EXPECT_EQ(got, 0) << "raised " << Hex(got);
    EXPECT_TRUE(Text(holder.wide()) == L"Pump 3");
    const char* narrow = holder.narrow();
    ASSERT_NE(narrow, nullptr) << "after the failure";
    EXPECT_STREQ(narrow, "Pump 3");
}

TEST(TextHolder, RefusedCoercionRaisesItsStatusAndKeepsNothing) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    FakeDispatch failing_object(nullptr, HRESULT(0x8004CAFE));
    std::vector<VariantCase> cases = {
        {"VT_NULL", Variant(VT_NULL)},
        {"VT_ERROR", Variant(VT_ERROR)},
        {"VT_DISPATCH null", Variant(VT_DISPATCH)},
        {"VT_UNKNOWN null", Variant(VT_UNKNOWN)},
        {"VT_DISPATCH failing", Variant(VT_DISPATCH)},
        {"type 0x7FF", Variant(0x7FF)},
    };
    V_ERROR(&cases[1].value) = DISP_E_PARAMNOTFOUND;
    V_DISPATCH(&cases[2].value) = nullptr;
    V_UNKNOWN(&cases[3].value) = nullptr;
    V_DISPATCH(&cases[4].value) = &failing_object;

    for (const VariantCase& c : cases) {
        const Coerced coerced = CoerceToText(c.value);
        ASSERT_LT(coerced.status, 0) << c.name << ": the platform coerces it to \""
                                     << PlatformNarrow(coerced.text) << "\"";
        text_holder holder;
        holder.assign_wide(L"previous");
        HRESULT got = RaisedStatus([&] { holder.assign_variant(c.value); });
        EXPECT_EQ(got, coerced.status) << c.name << ": raised " << Hex(got) << ", expected "
                                       << Hex(coerced.status);
        EXPECT_TRUE(holder.empty()) << c.name << ": the failed holder is not empty";

        const long long growth = HeapGrowth([&] {
            text_holder fresh;
            got = RaisedStatus([&] { fresh.assign_variant(c.value); });
        });
        EXPECT_EQ(growth, 0) << c.name << ": heap grew by " << growth;
    }
    EXPECT_EQ(failing_object.refs(), 1) << "references left on the object";
}

// When the holder's own copy cannot be made, the holder is empty and everything obtained on
// the way, the coerced temporary included, is freed.
TEST(TextHolder, FailedCopyLeavesTheHolderEmptyAndKeepsNothing) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    FakeDispatch object(L"from the object");
    VARIANT text = Variant(VT_BSTR);
    V_BSTR(&text) = ::SysAllocString(L"a reading");
    VARIANT number = Variant(VT_R8);
    V_R8(&number) = 2.5;
    VARIANT dispatch = Variant(VT_DISPATCH);
    V_DISPATCH(&dispatch) = &object;
    const std::pair<const char*, const VARIANT*> cases[] = {
        {"VT_BSTR", &text}, {"VT_R8", &number}, {"VT_DISPATCH", &dispatch}};

    for (const auto& [name, value] : cases) {
        text_holder holder;
        holder.assign_wide(L"previous");
        HRESULT got = kNothingRaised;
        long long growth = 0;
        {
            FailingSysAllocString failing;
            ASSERT_TRUE(failing.active());
            got = RaisedStatus([&] { holder.assign_variant(*value); });
            growth = HeapGrowth([&] {
                text_holder fresh;
                RaisedStatus([&] { fresh.assign_variant(*value); });
            });
        }
        EXPECT_EQ(got, E_OUTOFMEMORY) << name << ": raised " << Hex(got);
        EXPECT_TRUE(holder.empty()) << name << ": the failed holder is not empty";
        EXPECT_EQ(growth, 0) << name << ": heap grew by " << growth;
    }
    EXPECT_EQ(object.refs(), 1) << "references left on the object";
    ::VariantClear(&text);
}

TEST(TextHolder, ReleasesBothCopies) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    const std::wstring long_text(6000, L'\u00E9');
    VARIANT number = Variant(VT_R8);
    V_R8(&number) = -0.125;
    const long long growth = HeapGrowth([&] {
        text_holder holder;
        holder.assign_variant(number);
        holder.narrow();
        holder.assign_wide(long_text.c_str());  // replaces the record with its narrow copy
        holder.narrow();
        holder.reset();
        holder.assign_wide(long_text.c_str());
        holder.narrow();  // freed by the destructor
    });
    EXPECT_EQ(growth, 0) << "heap grew by " << growth;
}

TEST(TextHolder, MayBeGivenItsOwnText) {
    const std::wstring text(300, L'r');
    text_holder holder;
    holder.assign_wide(text.c_str());
    holder.assign_wide(holder.wide());
    EXPECT_TRUE(Text(holder.wide()) == text) << "assign_wide of its own text";

    VARIANT own = Variant(VT_BSTR);
    V_BSTR(&own) = const_cast<BSTR>(holder.wide());
    holder.assign_variant(own);
    EXPECT_TRUE(Text(holder.wide()) == text) << "assign_variant of its own text";
}

}  // namespace
}  // namespace vorkast::test
