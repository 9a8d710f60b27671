// Dialog template 101 as the plug-in's resources hold it, read back field by field from each
// plug-in file (this build's and the shipped 32-bit one): the extended template header, the
// font, and both controls in tab order.
#include "tests/support/plugin_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

constexpr WORD kCroatian = MAKELANGID(LANG_CROATIAN, SUBLANG_DEFAULT);  // 1050, 0x041A

// Sequential reader of the template's little-endian fields; a read past the end yields zeros
// and is reported.
class TemplateReader {
public:
    TemplateReader(const void* data, std::size_t size)
        : begin_(static_cast<const unsigned char*>(data)), at_(begin_), end_(begin_ + size) {}

    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    BYTE Byte() { return Read<BYTE>(); }

    // A zero-terminated UTF-16 string.
    std::wstring Text() {
        std::wstring text;
        for (WORD unit = Word(); unit != 0 && !overrun_; unit = Word()) { text.push_back(static_cast<wchar_t>(unit)); }
        return text;
    }

    // A "string or ordinal" field: 0xFFFF and an ordinal, or a string (empty: one zero).
    struct NameOrOrdinal {
        bool is_ordinal = false;
        WORD ordinal = 0;
        std::wstring text;
    };
    NameOrOrdinal NameOrId() {
        NameOrOrdinal field;
        if (Peek() == 0xFFFF) {
            Word();
            field.is_ordinal = true;
            field.ordinal = Word();
        } else {
            field.text = Text();
        }
        return field;
    }

    // Controls start on 4-byte boundaries from the start of the template.
    void AlignToDword() { at_ = begin_ + ((at_ - begin_ + 3) & ~std::size_t{3}); }

    bool overrun() const { return overrun_; }

private:
    WORD Peek() const {
        WORD w = 0;
        if (end_ - at_ >= 2) { std::memcpy(&w, at_, 2); }
        return w;
    }
    template <class T>
    T Read() {
        T value{};
        if (at_ > end_ || static_cast<std::size_t>(end_ - at_) < sizeof value) {
            overrun_ = true;
            return value;
        }
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }

    const unsigned char* begin_;
    const unsigned char* at_;
    const unsigned char* end_;
    bool overrun_ = false;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

// Each test reads one plug-in file's resources, mapped as an image.
class DialogTemplate : public ::testing::TestWithParam<PluginFile> {
protected:
    void SetUp() override {
        ASSERT_TRUE(FileExists(GetParam()));
        image_ = std::make_unique<ResourceImage>(GetParam().path());
        ASSERT_NE(image_->module(), nullptr) << image_->error();
    }
    HMODULE module() const { return image_->module(); }

private:
    std::unique_ptr<ResourceImage> image_;
};

INSTANTIATE_TEST_SUITE_P(Files, DialogTemplate, ::testing::ValuesIn(PluginFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(DialogTemplate, ExistsOnlyInCroatian) {
    std::vector<WORD> languages;
    ::EnumResourceLanguagesW(module(), MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(101),
                             CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kCroatian}) << "languages of dialog 101";
}

struct ExpectedControl {
    WORD class_ordinal;  // 0x0080 button, 0x0083 list box
    DWORD id;
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;
};

TEST_P(DialogTemplate, MatchesTheSensorsDialogFieldByField) {
    const HMODULE module = this->module();
    const HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(101), kCroatian);
    ASSERT_NE(found, nullptr) << "FindResourceEx(RT_DIALOG, 101, 1050) failed, error " << ::GetLastError();
    const HGLOBAL loaded = ::LoadResource(module, found);
    ASSERT_NE(loaded, nullptr);
    const void* data = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(module, found);
    ASSERT_NE(data, nullptr);
    TemplateReader t(data, size);

    EXPECT_EQ(t.Word(), 1) << "dlgVer";
    EXPECT_EQ(t.Word(), 0xFFFF) << "signature (extended template)";
    EXPECT_EQ(t.Dword(), 0u) << "helpID";
    EXPECT_EQ(t.Dword(), 0x00000080u) << "exStyle: WS_EX_TOOLWINDOW";
    EXPECT_EQ(t.Dword(), 0x80C800C8u)
        << "style: WS_POPUP WS_CAPTION WS_SYSMENU DS_MODALFRAME DS_SETFONT DS_FIXEDSYS";
    const WORD controls = t.Word();
    EXPECT_EQ(controls, 2) << "cDlgItems";
    EXPECT_EQ(t.Short(), 0) << "x";
    EXPECT_EQ(t.Short(), 0) << "y";
    EXPECT_EQ(t.Short(), 295) << "cx";
    EXPECT_EQ(t.Short(), 102) << "cy";
    const auto menu = t.NameOrId();
    EXPECT_TRUE(!menu.is_ordinal && menu.text.empty()) << "menu: expected none";
    const auto window_class = t.NameOrId();
    EXPECT_TRUE(!window_class.is_ordinal && window_class.text.empty()) << "class: expected the standard dialog class";
    EXPECT_EQ(t.Text(), L"Sensors") << "caption";
    EXPECT_EQ(t.Word(), 8) << "font point size";
    EXPECT_EQ(t.Word(), 400) << "font weight";
    EXPECT_EQ(t.Byte(), 0) << "italic";
    EXPECT_EQ(t.Byte(), 1) << "character set";
    EXPECT_EQ(t.Text(), L"MS Shell Dlg") << "typeface";

    const ExpectedControl expected[] = {
        {0x0080, 1, L"OK", 0x50010001, 242, 85, 50, 14},
        {0x0083, 1001, L"", 0x50A10103, 2, 1, 290, 80},
    };
    for (std::size_t i = 0; i < std::size(expected) && i < controls; ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const ExpectedControl& want = expected[i];
        t.AlignToDword();
        EXPECT_EQ(t.Dword(), 0u) << "helpID";
        EXPECT_EQ(t.Dword(), 0u) << "exStyle";
        EXPECT_EQ(t.Dword(), want.style) << "style";
        EXPECT_EQ(t.Short(), want.x) << "x";
        EXPECT_EQ(t.Short(), want.y) << "y";
        EXPECT_EQ(t.Short(), want.cx) << "cx";
        EXPECT_EQ(t.Short(), want.cy) << "cy";
        EXPECT_EQ(t.Dword(), want.id) << "id";
        const auto cls = t.NameOrId();
        EXPECT_TRUE(cls.is_ordinal) << "class given by name, expected the predefined ordinal";
        EXPECT_EQ(cls.ordinal, want.class_ordinal) << "class ordinal";
        const auto text = t.NameOrId();
        EXPECT_FALSE(text.is_ordinal) << "text given as an ordinal";
        EXPECT_EQ(text.text, want.text) << "text";
        EXPECT_EQ(t.Word(), 0) << "creation data bytes";
    }
    EXPECT_FALSE(t.overrun()) << "the template (" << size << " bytes) ended before all its fields";
}

}  // namespace
}  // namespace vorkast::test
