#include "core/MyAliasKit.h"

#include "platform/preferences/UserDefaults.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using platform::UserDefaults;
using platform::Value;
using testing_support::StderrCapture;
using testing_support::TempHome;
using Data = MyAliasKit::Data;

namespace {

class MyAliasKitTest : public ::testing::Test {
protected:
    fs::path root() const { return fs::canonical(home_.path()); }
    TempHome home_;
};

TEST_F(MyAliasKitTest, AliasDataOnlyForExistingItems) {
    EXPECT_FALSE(MyAliasKit::aliasDataForAliasHandle(nullptr));
    EXPECT_FALSE(MyAliasKit::aliasDataForPath(""));
    EXPECT_FALSE(MyAliasKit::aliasDataForPath((root() / "missing").string()));
    const auto folder = home_.makeFolder("photos");
    const auto file = home_.writeFile("photos/a.jpg", "x");
    for (const auto& p : {folder, file}) {
        auto data = MyAliasKit::aliasDataForPath(p.string());
        ASSERT_TRUE(data);
        std::string resolved;
        EXPECT_TRUE(MyAliasKit::resolveAliasFromData(&*data, &resolved));
        EXPECT_EQ(resolved, fs::canonical(p).string());
    }
}

TEST_F(MyAliasKitTest, ChangedDataComesOnlyWhenTheRecordWasRenewed) {
    home_.makeFolder("photos");
    const auto data = *MyAliasKit::aliasDataForPath((root() / "photos").string());
    const Data sentinel{42};

    std::optional<Data> changed = sentinel;
    std::string path;
    ASSERT_TRUE(MyAliasKit::resolveAliasFromData(&data, &path, &changed));
    EXPECT_EQ(changed, sentinel); // left alone

    fs::rename(root() / "photos", root() / "renamed");
    ASSERT_TRUE(MyAliasKit::resolveAliasFromData(&data, &path, &changed));
    EXPECT_EQ(path, (root() / "renamed").string());
    ASSERT_TRUE(changed && *changed != sentinel);
    std::string again;
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(&*changed, &again));
    EXPECT_EQ(again, path);
    // Either out-parameter may be left out.
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(&data, nullptr, nullptr));
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(&data, nullptr));
}

TEST_F(MyAliasKitTest, NoDataOrDamagedDataDoesNotResolve) {
    std::string path = "untouched";
    {
        StderrCapture log;
        EXPECT_FALSE(MyAliasKit::resolveAliasFromData(nullptr, &path));
        EXPECT_FALSE(log.contains("FAILED"));
    }
    const Data junk{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'l', 'i', 'a', 's', '!'};
    StderrCapture log;
    EXPECT_FALSE(MyAliasKit::resolveAliasFromData(&junk, &path));
    EXPECT_EQ(path, "untouched");
    EXPECT_TRUE(log.contains("error is damaged alias record")) << log.text();
    EXPECT_TRUE(log.contains("Inside MyAliasKit - FAILED in FSResolveAliasWithMountFlags... err=[0x01]"))
        << log.text();
}

TEST_F(MyAliasKitTest, SavePathStoresTheDataAndKeepsOldDataWhenNoneCanBeMade) {
    home_.makeFolder("photos");
    const std::string key = "prefCameraFolderPathAliasDataFormat1";
    {
        StderrCapture log;
        MyAliasKit::savePath((root() / "photos").string(), key);
        EXPECT_TRUE(log.contains("Inside MyAliasKit => savePath...withPath=[" + (root() / "photos").string() +
                                 "] forKey=[" + key + "]"))
            << log.text();
    }
    const Value stored = UserDefaults::standard().objectForKey(key);
    ASSERT_TRUE(stored.isData());
    std::string path;
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(stored.data(), &path));
    EXPECT_EQ(path, (root() / "photos").string());

    StderrCapture log;
    MyAliasKit::savePath((root() / "missing").string(), key);
    EXPECT_TRUE(log.contains("Inside MyAliasKit => savePath... aliasDataForPath returned NIL?????? ")) << log.text();
    EXPECT_EQ(UserDefaults::standard().objectForKey(key), stored);
}

} // namespace
