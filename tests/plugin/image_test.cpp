// The plug-in's file as the host's loader sees it: machine type, imported libraries, and the
// exact set of exported names. Read from the loaded image's own PE headers.
#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

namespace vorkast::test {
namespace {

const IMAGE_NT_HEADERS* Headers(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

template <class T>
const T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(module) + rva);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

TEST(Image, IsAWindowsDllForThisBuildsMachine) {
    const IMAGE_NT_HEADERS* nt = Headers(Plugin().module());
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
#if defined(__i386__) || defined(_M_IX86)
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC) << "expected PE32";
#else
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#endif
}

TEST(Image, ImportsOnlyWindowsSystemLibraries) {
    const IMAGE_NT_HEADERS* nt = Headers(Plugin().module());
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "oleaut32.dll", "msvcrt.dll",
                                          "gdi32.dll", "advapi32.dll", "ole32.dll"};
    for (const auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(Plugin().module(), dir.VirtualAddress);
         d->Name != 0; ++d) {
        const std::string name = Lower(At<char>(Plugin().module(), d->Name));
        const bool api_set = name.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(system.count(name) == 1 || api_set) << "imports " << name;
    }
}

TEST(Image, ExportsExactlyTheInterfaceUnderBothNames) {
    const std::set<std::string> expected = {
        "dlltype",  "_dlltype@0",  "init",       "_init@0",        "getparam",    "_getparam@4",
        "getinfo",  "_getinfo@4",  "dllstartup", "_dllstartup@8",  "dllshutdown", "_dllshutdown@4",
        "configure", "_configure@0", "ValueBySensor", "_ValueBySensor@8", "ValueByName", "_ValueByName@8",
    };
    const IMAGE_NT_HEADERS* nt = Headers(Plugin().module());
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(Plugin().module(), dir.VirtualAddress);
    const auto* names = At<DWORD>(Plugin().module(), exports->AddressOfNames);
    std::set<std::string> actual;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        actual.insert(At<char>(Plugin().module(), names[i]));
    }
    EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace vorkast::test
