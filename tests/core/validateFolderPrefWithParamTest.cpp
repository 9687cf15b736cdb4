#include "core/validateFolderPrefWithParam.h"

#include "core/MyAliasKit.h"
#include "platform/alias/AliasRecord.h"
#include "platform/preferences/UserDefaults.h"
#include "support/ScopedMount.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using platform::UserDefaults;
using platform::Value;
using testing_support::ScopedMount;
using testing_support::StderrCapture;
using testing_support::TempHome;

namespace {

class ValidateFolderPrefTest : public ::testing::Test {
protected:
    ValidateFolderPrefTest()
        : params_(CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(1))),
          pathKey_(CommonHeader::param(params_, sPrefFolderNameKey)),
          validKey_(CommonHeader::param(params_, sPrefFolderNameIsValidKey)),
          aliasKey_(CommonHeader::param(params_, sPrefFolderAliasDataKey)) {}

    fs::path root() const { return fs::canonical(home_.path()); }
    UserDefaults& defaults() { return UserDefaults::standard(); }

    // What the end of the open panel stores.
    void choose(const fs::path& folder) {
        defaults().setObject(pathKey_, Value(folder.string()));
        defaults().setBool(validKey_, true);
        MyAliasKit::savePath(folder.string(), aliasKey_);
    }
    std::string storedPath() { return defaults().stringForKey(pathKey_).value_or("<none>"); }
    Value storedValid() { return defaults().objectForKey(validKey_); }
    Value storedAlias() { return defaults().objectForKey(aliasKey_); }

    TempHome home_;
    ParamDictionary params_;
    std::string pathKey_, validKey_, aliasKey_;
};

// A folder that was missing (a card pulled) and is back is valid again.
TEST_F(ValidateFolderPrefTest, AnExistingFolderIsUsedAsItIsAndAStoredNoBecomesYes) {
    const auto folder = home_.makeFolder("photos");
    choose(folder);
    defaults().setBool(validKey_, false);
    StderrCapture log;
    EXPECT_TRUE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedValid(), Value(true));
    EXPECT_EQ(storedPath(), folder.string());
    EXPECT_TRUE(log.contains("Inside validateFolderPrefWithParam withParameter = " + CommonHeader::describe(params_)))
        << log.text();
}

TEST_F(ValidateFolderPrefTest, AFileAtTheStoredPathIsRepairedFromTheAliasData) {
    choose(home_.makeFolder("photos"));
    fs::rename(root() / "photos", root() / "photos 2");
    home_.writeFile("photos", "not a folder");
    defaults().setBool(validKey_, false);
    EXPECT_TRUE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedPath(), (root() / "photos 2").string());
    EXPECT_EQ(storedValid(), Value(true));
}

TEST_F(ValidateFolderPrefTest, NoStoredPathGivesNoAndWritesNothing) {
    choose(home_.makeFolder("photos"));
    defaults().removeObjectForKey(pathKey_);
    defaults().removeObjectForKey(validKey_);
    const Value alias = storedAlias();
    EXPECT_FALSE(validateFolderPrefWithParam(params_));
    EXPECT_TRUE(defaults().objectForKey(pathKey_).isNone());
    EXPECT_TRUE(storedValid().isNone());
    EXPECT_EQ(storedAlias(), alias);
}

TEST_F(ValidateFolderPrefTest, ARenamedFolderIsFollowedAndTheAliasDataKept) {
    choose(home_.makeFolder("photos"));
    const Value alias = storedAlias();
    defaults().setBool(validKey_, false);
    fs::rename(root() / "photos", root() / "Photos 2024");
    EXPECT_TRUE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedPath(), (root() / "Photos 2024").string());
    EXPECT_EQ(storedValid(), Value(true));
    EXPECT_EQ(storedAlias(), alias);
}

TEST_F(ValidateFolderPrefTest, TheUsablePathIsTheOneNowStored) {
    choose(home_.makeFolder("photos"));
    fs::rename(root() / "photos", root() / "moved");
    EXPECT_EQ(validatedFolderPath(params_), (root() / "moved").string());
    EXPECT_EQ(storedPath(), (root() / "moved").string());
    fs::remove(root() / "moved");
    EXPECT_EQ(validatedFolderPath(params_), std::nullopt);
}

TEST_F(ValidateFolderPrefTest, ADeletedFolderGivesNoAndKeepsItsPath) {
    const auto folder = home_.makeFolder("photos");
    choose(folder);
    fs::remove(folder);
    StderrCapture log;
    EXPECT_FALSE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedValid(), Value(false));
    EXPECT_EQ(storedPath(), folder.string());
    EXPECT_TRUE(log.contains("FAILED in FSResolveAliasWithMountFlags... err=[0x03]")) << log.text();
}

TEST_F(ValidateFolderPrefTest, AFolderMadeAgainOnTheSameVolumeCounts) {
    const auto folder = home_.makeFolder("photos");
    choose(folder);
    fs::remove(folder);
    fs::create_directory(folder);
    EXPECT_TRUE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedPath(), folder.string());
}

TEST_F(ValidateFolderPrefTest, DamagedAliasDataGivesNoAndLeavesThePathAlone) {
    const auto folder = root() / "gone";
    defaults().setObject(pathKey_, Value(folder.string()));
    std::mt19937 rng(3);
    MyAliasKit::Data noise(200);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    for (const Value& alias : {Value(noise), Value(MyAliasKit::Data{}), Value("a string")}) {
        defaults().setObject(aliasKey_, alias);
        defaults().setBool(validKey_, true);
        StderrCapture log;
        EXPECT_FALSE(validateFolderPrefWithParam(params_));
        EXPECT_EQ(storedValid(), Value(false));
        EXPECT_EQ(storedPath(), folder.string());
        EXPECT_EQ(storedAlias(), alias);
        EXPECT_TRUE(log.contains("err=[0x01]") || log.contains("is not alias data")) << log.text();
    }
}

TEST_F(ValidateFolderPrefTest, ParametersWithoutKeysChangeNothing) {
    EXPECT_FALSE(validateFolderPrefWithParam({}));
    ParamDictionary onlyPath{{sPrefFolderNameKey, pathKey_}};
    defaults().setObject(pathKey_, Value((root() / "gone").string()));
    EXPECT_FALSE(validateFolderPrefWithParam(onlyPath));
    EXPECT_TRUE(defaults().objectForKey("").isNone());
    EXPECT_EQ(storedPath(), (root() / "gone").string());
}

// For the destination, a folder on another volume than the alias data
// names is a leftover mount point, not the archive; tested here by the
// volume comparison alone. A source is a place: another card there is it.
TEST_F(ValidateFolderPrefTest, AFolderOnAnotherVolumeThanTheAliasDataIsNotTheDestination) {
    const auto folder = home_.makeFolder("usb");
    params_ = CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
    pathKey_ = CommonHeader::param(params_, sPrefFolderNameKey);
    validKey_ = CommonHeader::param(params_, sPrefFolderNameIsValidKey);
    aliasKey_ = CommonHeader::param(params_, sPrefFolderAliasDataKey);
    choose(folder);
    auto record = *platform::AliasRecord::decode(*storedAlias().data());
    record.volume.device ^= 0x100;
    record.item.device = record.volume.device;
    record.volume.fsid ^= 1;
    if (!record.volume.uuid.empty()) record.volume.uuid += "-other";
    defaults().setObject(aliasKey_, Value(record.encode()));

    StderrCapture log;
    EXPECT_FALSE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedValid(), Value(false));
    EXPECT_EQ(storedPath(), folder.string());
    EXPECT_TRUE(log.contains("lies on another volume than its alias data names")) << log.text();
    EXPECT_TRUE(log.contains("err=[0x02]")) << log.text();
}

TEST_F(ValidateFolderPrefTest, AnUnmountedVolumesEmptyMountPointIsNotUsed) {
    std::string why;
    auto usb = ScopedMount::tmpfs(root() / "usb", &why);
    if (!usb) GTEST_SKIP() << "cannot mount here (" << why << "); the volume comparison is tested instead";
    choose(root() / "usb");
    fs::create_directory(root() / "usb/DCIM");
    ASSERT_TRUE(usb->unmount());
    ASSERT_TRUE(fs::is_directory(root() / "usb"));

    EXPECT_FALSE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedValid(), Value(false));
    EXPECT_EQ(storedPath(), (root() / "usb").string());

    // Another card mounted at the same place is the source again.
    auto other = ScopedMount::tmpfs(root() / "usb", &why);
    ASSERT_TRUE(other) << why;
    EXPECT_TRUE(validateFolderPrefWithParam(params_));
    EXPECT_EQ(storedValid(), Value(true));
    EXPECT_EQ(storedPath(), (root() / "usb").string());
}

TEST_F(ValidateFolderPrefTest, FourThreadsAgreeOnTheRepairedReference) {
    choose(home_.makeFolder("photos"));
    defaults().setBool(validKey_, false);
    fs::rename(root() / "photos", root() / "moved");
    std::vector<std::thread> threads;
    std::vector<int> results(4, -1);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] { results[i] = validateFolderPrefWithParam(params_) ? 1 : 0; });
    for (auto& t : threads) t.join();
    EXPECT_EQ(results, std::vector<int>(4, 1));
    EXPECT_EQ(storedPath(), (root() / "moved").string());
    EXPECT_EQ(storedValid(), Value(true));
}

} // namespace
