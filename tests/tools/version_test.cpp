// The plug-in file's version resource, as Explorer and installers read it.
#include "tests/support/plugin_fixture.h"

#include <gtest/gtest.h>

namespace vorkast::test {
namespace {

TEST(VersionResource, ThePluginFileIsVersion1_0a) {
    const host::FileVersion v = host::ReadFileVersion(PluginPath());
    ASSERT_TRUE(v.present) << PluginPath() << " has no version resource";
    EXPECT_EQ(v.numeric, "1.0.0.0");
    EXPECT_EQ(v.file_version, "1.0a");
    EXPECT_EQ(v.product_version, "1.0a");
    EXPECT_EQ(v.description, Interface().getinfo(0)) << "FileDescription differs from getinfo 0";
}

}  // namespace
}  // namespace vorkast::test
