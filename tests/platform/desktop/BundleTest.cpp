#include "platform/desktop/Bundle.h"
#include "support/TempHome.h"

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
    testing_support::TempHome tmp;
    fs::path app = tmp.path() / "Some.app";
    tmp.writeFile("Some.app/Contents/MacOS/tool", "#!/bin/sh\n");
    fs::permissions(app / "Contents/MacOS/tool", fs::perms::owner_all);
    tmp.writeFile("Some.app/Contents/MacOS/data", "not a program");
    fs::permissions(app / "Contents/MacOS/data", fs::perms::owner_read | fs::perms::owner_write);
    Bundle bundle(app);
    EXPECT_EQ(bundle.pathForAuxiliaryExecutable("tool"), app / "Contents/MacOS/tool");
    EXPECT_FALSE(bundle.pathForAuxiliaryExecutable("data"));
    EXPECT_FALSE(bundle.pathForAuxiliaryExecutable("no-such-tool"));
}

TEST(BundleTest, MissingBundleGivesEmptyInfoWithoutCrashing) {
    Bundle bundle("/nonexistent/Foo.app");
    EXPECT_TRUE(bundle.infoDictionary().empty());
    EXPECT_EQ(bundle.infoString("CFBundleIdentifier"), "");
    EXPECT_FALSE(bundle.pathForResource("FactoryDefault", "plist"));
}
