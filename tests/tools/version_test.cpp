// The version resource of each plug-in file (this build's and the shipped 32-bit one), as
// Explorer and installers read it.
#include "tests/support/plugin_files.h"
#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

namespace vorkast::test {
namespace {

class VersionResource : public ::testing::TestWithParam<PluginFile> {};

INSTANTIATE_TEST_SUITE_P(Files, VersionResource, ::testing::ValuesIn(PluginFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(VersionResource, ThePluginFileIsVersion1_0a) {
    ASSERT_TRUE(FileExists(GetParam()));
    const std::string path = GetParam().path();
    const host::FileVersion v = host::ReadFileVersion(path);
    ASSERT_TRUE(v.present) << path << " has no version resource";
    EXPECT_EQ(v.numeric, "1.0.0.0");
    EXPECT_EQ(v.file_version, "1.0a");
    EXPECT_EQ(v.product_version, "1.0a");
    // Both files come from the same sources; the loaded one is this build's.
    EXPECT_EQ(v.description, Interface().getinfo(0)) << "FileDescription differs from getinfo 0";
}

}  // namespace
}  // namespace vorkast::test
