// Text between the ANSI code page and wide strings. Expectations come from the platform's own
// conversion, so texts outside ASCII hold in any code page.
#include "tests/variant/variant_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vorkast::test {
namespace {

struct BstrDeleter {
    void operator()(wchar_t* text) const { ::SysFreeString(text); }
};
using unique_bstr = std::unique_ptr<wchar_t, BstrDeleter>;

// Texts either side of the switch from the stack buffer to the heap buffer (4096 wide
// characters, terminator included), some outside ASCII.
std::string Around(std::size_t length) { return PatternText(length); }
const std::string kNarrowTexts[] = {
    "",
    "a",
    "Fan 2: 1450 RPM",
    "CPU: 47 \xB0" "C, caf\xE9, \x80 5, \xA7\xB5\xFF",
    std::string("\x81\x8D\x8F\x90\x9D"),  // unassigned in some code pages
    Around(4094),                         // 4095 wide characters with the terminator: stack
    Around(4095),                         // 4096: heap
    Around(4096),
    Around(4094) + "\xE9",
    Around(40000),
};

TEST(AnsiToBstr, NullGivesNullAndEmptyAnEmptyString) {
    EXPECT_EQ(ansi_to_bstr(nullptr), nullptr);
    const unique_bstr empty(ansi_to_bstr(""));
    ASSERT_NE(empty, nullptr) << "\"\" gave a null BSTR";
    EXPECT_EQ(::SysStringLen(empty.get()), 0u);
    EXPECT_EQ(empty.get()[0], L'\0');
}

TEST(AnsiToBstr, TextsComeOutWholeAsThePlatformConvertsThem) {
    for (const std::string& text : kNarrowTexts) {
        const std::wstring expected = PlatformWide(text);
        const unique_bstr got(ansi_to_bstr(text.c_str()));
        ASSERT_NE(got, nullptr) << "text of " << text.size() << " bytes";
        EXPECT_EQ(::SysStringLen(got.get()), expected.size())
            << "text of " << text.size() << " bytes: length";
        EXPECT_TRUE(BstrText(got.get()) == expected)
            << "text of " << text.size() << " bytes: characters differ";
        EXPECT_EQ(got.get()[::SysStringLen(got.get())], L'\0') << "not terminated";
    }
}

TEST(BstrToAnsi, NullGivesNullAndEmptyOnlyTheTerminator) {
    EXPECT_EQ(bstr_to_ansi(nullptr), nullptr);
    const std::unique_ptr<char[]> empty(bstr_to_ansi(L""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');
}

TEST(BstrToAnsi, TextsComeOutAsThePlatformConvertsThem) {
    // Characters the code page lacks come out as the platform's default replacement.
    const std::wstring texts[] = {
        L"a",
        L"Fan 2: 1450 RPM",
        L"CPU: 47 \u00B0C, caf\u00E9, \u20AC 5",
        L"\u4E2D\u6587 \u0416 \U0001F600 \u00FF",
        PlatformWide(Around(5000)),
    };
    for (const std::wstring& text : texts) {
        const std::string expected = PlatformNarrow(text);
        const std::unique_ptr<char[]> got(bstr_to_ansi(text.c_str()));
        ASSERT_NE(got, nullptr) << "text of " << text.size() << " characters";
        EXPECT_EQ(std::string(got.get()), expected)
            << "text of " << text.size() << " characters";
    }
}

TEST(BstrToAnsi, StopsAtTheFirstZeroWhateverTheLengthPrefixSays) {
    const unique_bstr text(::SysAllocStringLen(L"ab\0cd", 5));
    ASSERT_EQ(::SysStringLen(text.get()), 5u);
    const std::unique_ptr<char[]> got(bstr_to_ansi(text.get()));
    ASSERT_NE(got, nullptr);
    EXPECT_STREQ(got.get(), "ab");
}

TEST(TextConversion, FreesItsBuffers) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    for (const std::size_t length : {std::size_t{10}, std::size_t{4094}, std::size_t{5000}}) {
        const std::string text = Around(length);
        const long long to_wide =
            HeapGrowth([&] { ::SysFreeString(ansi_to_bstr(text.c_str())); });
        EXPECT_EQ(to_wide, 0) << length << " characters to wide: heap grew by " << to_wide;
        const std::wstring wide = PlatformWide(text);
        const long long to_narrow = HeapGrowth([&] { delete[] bstr_to_ansi(wide.c_str()); });
        EXPECT_EQ(to_narrow, 0) << length << " characters to narrow: heap grew by "
                                << to_narrow;
    }
}

// A conversion that fails raises the last error as a status (even 0, with no sign test) and
// frees what it had obtained, on the stack path and the heap path alike.
TEST(TextConversion, FailedConversionRaisesTheLastErrorAndFreesItsBuffer) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    struct Case {
        Conversion which;
        int failing_call;  // 1: the size query, 2: the conversion into the buffer
        std::size_t length;
        DWORD last_error;
        HRESULT status;
    };
    const Case cases[] = {
        {Conversion::kToWide, 1, 10, ERROR_NO_UNICODE_TRANSLATION, HRESULT(0x80070459)},
        {Conversion::kToWide, 1, 10, 0, 0},
        {Conversion::kToWide, 2, 10, ERROR_NOT_ENOUGH_MEMORY, HRESULT(0x80070008)},
        {Conversion::kToWide, 2, 4094, 0, 0},
        {Conversion::kToWide, 2, 4095, ERROR_INSUFFICIENT_BUFFER, HRESULT(0x8007007A)},
        {Conversion::kToWide, 2, 5000, 0, 0},
        {Conversion::kToNarrow, 1, 10, ERROR_INVALID_PARAMETER, HRESULT(0x80070057)},
        {Conversion::kToNarrow, 1, 10, 0, 0},
        {Conversion::kToNarrow, 2, 10, ERROR_INSUFFICIENT_BUFFER, HRESULT(0x8007007A)},
        {Conversion::kToNarrow, 2, 5000, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string text = Around(c.length);
        const std::wstring wide = PlatformWide(text);
        const char* direction = c.which == Conversion::kToWide ? "to wide" : "to narrow";
        HRESULT got = kNothingRaised;
        long long growth = 0;
        {
            FailingConversion failing(c.which, c.failing_call, c.last_error);
            ASSERT_TRUE(failing.active()) << "the conversion function is not imported";
            growth = HeapGrowth([&] {
                failing.restart();
                got = RaisedStatus([&] {
                    if (c.which == Conversion::kToWide) {
                        ::SysFreeString(ansi_to_bstr(text.c_str()));
                    } else {
                        delete[] bstr_to_ansi(wide.c_str());
                    }
                });
            });
        }
        EXPECT_EQ(got, c.status) << direction << ", " << c.length << " characters, call "
                                 << c.failing_call << " failing: raised " << Hex(got)
                                 << ", expected " << Hex(c.status);
        EXPECT_EQ(growth, 0) << direction << ", " << c.length << " characters, call "
                             << c.failing_call << " failing: heap grew by " << growth;
    }
}

TEST(AnsiToBstr, RaisesOutOfMemoryWhenTheStringCannotBeMade) {
    ASSERT_TRUE(BstrCacheOff()) << "heap figures would include cached strings";
    for (const std::size_t length : {std::size_t{10}, std::size_t{5000}}) {
        const std::string text = Around(length);
        HRESULT got = kNothingRaised;
        long long growth = 0;
        {
            FailingSysAllocString failing;
            ASSERT_TRUE(failing.active()) << "SysAllocString is not imported";
            growth = HeapGrowth([&] {
                got = RaisedStatus([&] { ::SysFreeString(ansi_to_bstr(text.c_str())); });
            });
        }
        EXPECT_EQ(got, E_OUTOFMEMORY) << length << " characters: raised " << Hex(got);
        EXPECT_EQ(growth, 0) << length << " characters: heap grew by " << growth;
    }
}

}  // namespace
}  // namespace vorkast::test
