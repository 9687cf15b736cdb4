#include "platform/Bundle.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using platform::Bundle;

TEST(BundleTest, BuildTreeBundleHasInfoAndResources) {
    Bundle bundle(TOLV_TEST_BUNDLE_PATH);
    EXPECT_EQ(bundle.infoString("CFBundleIdentifier"), "com.orvane.tolv-archiver");
    EXPECT_EQ(bundle.infoString("CFBundleExecutable"), "Tolv-Archiver");
    EXPECT_FALSE(bundle.infoString("CFBundleShortVersionString").empty());
    EXPECT_FALSE(bundle.infoString("CFBundleVersion").empty());
    EXPECT_FALSE(bundle.infoString("CFBundleDisplayName").empty());

    auto defaults = bundle.pathForResource("FactoryDefault", "plist");
    ASSERT_TRUE(defaults);
    EXPECT_EQ(*defaults, fs::path(TOLV_TEST_BUNDLE_PATH) / "Contents/Resources/FactoryDefault.plist");
    EXPECT_FALSE(bundle.pathForResource("NoSuchResource", "plist"));
}

TEST(BundleTest, MainBundleFollowsEnvironmentOverride) {
    // CTest names the build tree's bundle for test programs, which live outside it.
    ASSERT_STREQ(getenv("TOLV_BUNDLE_PATH"), TOLV_TEST_BUNDLE_PATH);
    EXPECT_EQ(Bundle::main().bundlePath(), fs::path(TOLV_TEST_BUNDLE_PATH));
}

TEST(BundleTest, AuxiliaryExecutableMustBeExecutable) {
    Bundle bundle(TOLV_TEST_BUNDLE_PATH);
    EXPECT_TRUE(bundle.pathForAuxiliaryExecutable("Tolv-Archiver"));
    EXPECT_FALSE(bundle.pathForAuxiliaryExecutable("Info.plist"));
    EXPECT_FALSE(bundle.pathForAuxiliaryExecutable("no-such-tool"));
}

TEST(BundleTest, MissingBundleGivesEmptyInfoWithoutCrashing) {
    Bundle bundle("/nonexistent/Foo.app");
    EXPECT_TRUE(bundle.infoDictionary().empty());
    EXPECT_EQ(bundle.infoString("CFBundleIdentifier"), "");
    EXPECT_FALSE(bundle.pathForResource("FactoryDefault", "plist"));
}
