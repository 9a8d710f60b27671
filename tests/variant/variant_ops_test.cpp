// VariantCopy and VariantClear with their failures raised, and storing ANSI text in a variant.
#include "tests/variant/variant_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace vorkast::test {
namespace {

constexpr VARTYPE kInvalidType = 0x7FF;

// The leak checks of this suite rest on freed strings leaving the heap at once.
TEST(HeapFigures, ShowAStringBeingFreed) {
    ASSERT_TRUE(BstrCacheOff()) << "the BSTR cache could not be turned off";
    const BSTR text = ::SysAllocStringLen(nullptr, 8000);
    ASSERT_NE(text, nullptr);
    const std::size_t held = HeapBusyBytes();
    ::SysFreeString(text);
    const std::size_t freed = HeapBusyBytes();
    EXPECT_GE(static_cast<long long>(held) - static_cast<long long>(freed), 16000)
        << "heap bytes in use: " << held << " with the string, " << freed << " after freeing it";
}

TEST(CopyVariant, CopiesTheStringAndReturnsTheDestination) {
    VARIANT source;
    ::VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = ::SysAllocString(L"Temperature 41");
    VARIANT copy;
    ::VariantInit(&copy);
    EXPECT_EQ(copy_variant(&copy, &source), &copy);
    ASSERT_EQ(V_VT(&copy), VT_BSTR) << "type " << V_VT(&copy);
    EXPECT_NE(V_BSTR(&copy), V_BSTR(&source)) << "the string is shared, not copied";
    EXPECT_TRUE(BstrText(V_BSTR(&copy)) == L"Temperature 41");
    ::VariantClear(&copy);
    ::VariantClear(&source);
}

TEST(VariantWrappers, RaiseTheStatusOfAFailedCall) {
    VARIANT invalid;
    ::VariantInit(&invalid);
    V_VT(&invalid) = kInvalidType;
    VARIANT scratch;
    ::VariantInit(&scratch);
    const HRESULT copy_status = ::VariantCopy(&scratch, &invalid);
    ASSERT_LT(copy_status, 0) << "VariantCopy accepted type " << kInvalidType;
    const HRESULT clear_status = ::VariantClear(&invalid);
    ASSERT_LT(clear_status, 0) << "VariantClear accepted type " << kInvalidType;

    VARIANT destination;
    ::VariantInit(&destination);
    HRESULT got = RaisedStatus([&] { copy_variant(&destination, &invalid); });
    EXPECT_EQ(got, copy_status) << "copy_variant raised " << Hex(got);
    got = RaisedStatus([&] { clear_variant(&invalid); });
    EXPECT_EQ(got, clear_status) << "clear_variant raised " << Hex(got);

    // A variant whose clearing fails is left as it was by set_variant_text.
    got = RaisedStatus([&] { set_variant_text(&invalid, "text"); });
    EXPECT_EQ(got, clear_status) << "set_variant_text raised " << Hex(got);
    EXPECT_EQ(V_VT(&invalid), kInvalidType) << "type after the failed clear";
}

TEST(ClearVariant, ReleasesWhatTheVariantHolds) {
    FakeDispatch object(L"value");
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = &object;
    object.AddRef();
    clear_variant(&v);
    EXPECT_EQ(V_VT(&v), VT_EMPTY) << "type " << V_VT(&v);
    EXPECT_EQ(object.refs(), 1) << "references left on the object";
}

TEST(SetVariantText, StoresTheTextAsTheCodePageConvertsIt) {
    const char* const texts[] = {"", "Voltage 12.1 V", "47 \xB0" "C caf\xE9 \x80"};
    for (const char* text : texts) {
        VARIANT v;
        ::VariantInit(&v);
        EXPECT_EQ(set_variant_text(&v, text), &v);
        ASSERT_EQ(V_VT(&v), VT_BSTR) << "\"" << text << "\": type " << V_VT(&v);
        ASSERT_NE(V_BSTR(&v), nullptr) << "\"" << text << "\"";
        EXPECT_TRUE(BstrText(V_BSTR(&v)) == PlatformWide(text)) << "\"" << text << "\"";
        ::VariantClear(&v);
    }
    VARIANT v;
    ::VariantInit(&v);
    set_variant_text(&v, nullptr);
    EXPECT_EQ(V_VT(&v), VT_BSTR) << "null text: type";
    EXPECT_EQ(V_BSTR(&v), nullptr) << "null text: string";
}

TEST(SetVariantText, FreesWhatTheVariantHeldBefore) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    // A long string, so that keeping it would show far above the short text stored instead.
    const std::wstring old_text(8000, L'x');
    VARIANT v;
    ::VariantInit(&v);
    const long long growth = HeapGrowth([&] {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ::SysAllocString(old_text.c_str());
        set_variant_text(&v, "new");
        ::VariantClear(&v);
    });
    EXPECT_EQ(growth, 0) << "heap grew by " << growth << " over replacing a string";

    FakeDispatch object(L"value");
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = &object;
    object.AddRef();
    set_variant_text(&v, "new");
    EXPECT_EQ(object.refs(), 1) << "references left on the replaced object";
    EXPECT_EQ(V_VT(&v), VT_BSTR);
    EXPECT_TRUE(BstrText(V_BSTR(&v)) == L"new");
    ::VariantClear(&v);
}

TEST(SetVariantText, FailedConversionLeavesTheVariantEmpty) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    VARIANT v;
    ::VariantInit(&v);
    HRESULT got = kNothingRaised;
    VARTYPE type_after = VT_BSTR;
    long long growth = 0;
    {
        FailingConversion failing(Conversion::kToWide, 1, ERROR_NOT_ENOUGH_MEMORY);
        ASSERT_TRUE(failing.active());
        growth = HeapGrowth([&] {
            failing.restart();
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = ::SysAllocString(L"old reading");
            got = RaisedStatus([&] { set_variant_text(&v, "new reading"); });
            type_after = V_VT(&v);
            ::VariantInit(&v);  // drops whatever it claims without freeing it twice
        });
    }
    EXPECT_EQ(got, HRESULT(0x80070008)) << "raised " << Hex(got);
    EXPECT_EQ(type_after, VT_EMPTY) << "type after the failed conversion";
    EXPECT_EQ(growth, 0) << "heap grew by " << growth << " (the old string kept?)";
}

}  // namespace
}  // namespace vorkast::test
