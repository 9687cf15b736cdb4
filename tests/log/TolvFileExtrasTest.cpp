#include "log/TolvFileExtras.h"

#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::StderrCapture;
using testing_support::TempHome;

namespace {

// 7 March 2012 10:15:00 UTC.
platform::Date fixedNow() {
    setenv("TZ", "UTC", 1);
    tzset();
    return platform::Date(std::chrono::seconds(1331115300));
}

class TrashTest : public ::testing::Test {
protected:
    fs::path trash() const { return home.home() / ".local/share/Trash"; }
    TempHome home;
};

// Makes a folder's entries impossible to remove, also for root, and undoes it.
class Immutable {
public:
    explicit Immutable(fs::path folder) : folder_(std::move(folder)) {
        ok_ = std::system(("chattr +i '" + folder_.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~Immutable() {
        if (ok_) std::system(("chattr -i '" + folder_.string() + "'").c_str());
    }
    bool ok() const { return ok_; }

private:
    fs::path folder_;
    bool ok_ = false;
};

} // namespace

TEST_F(TrashTest, ItemMovesWithAnInfoFileThatSaysWhereFrom) {
    fs::path item = home.writeFile("logs/a b%.log", "log");
    moveFileToUserTrash(item.string(), fixedNow());
    EXPECT_FALSE(fs::exists(item));
    EXPECT_EQ(testing_support::readFile(trash() / "files/a b%.log"), "log");
    std::string info = testing_support::readFile(trash() / "info/a b%.log.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("/logs/a%20b%25.log\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\nDeletionDate="), std::string::npos);
}

TEST_F(TrashTest, ClashingNamesGetATimeStampAndASecondClashFails) {
    platform::Date now = fixedNow();
    for (const char* contents : {"first", "second", "third"}) {
        fs::path item = home.writeFile("logs/x.log", contents);
        moveFileToUserTrash(item.string(), now);
    }
    EXPECT_EQ(testing_support::readFile(trash() / "files/x.log"), "first");
    EXPECT_EQ(testing_support::readFile(trash() / "files/x.log 20120307_101500"), "second");
    EXPECT_TRUE(fs::exists(trash() / "info/x.log 20120307_101500.trashinfo"));
    // The third move within the same second fails and leaves its item where it was.
    EXPECT_EQ(testing_support::readFile(home.path() / "logs/x.log"), "third");

    StderrCapture log;
    moveFileToUserTrash((home.path() / "logs/x.log").string(), now);
    EXPECT_TRUE(log.contains("moveFileToUserTrash -> Move operation did not succeed! for [" +
                             (trash() / "files/x.log 20120307_101500").string() + "]"))
        << log.text();
    EXPECT_TRUE(fs::exists(home.path() / "logs/x.log"));
}

TEST_F(TrashTest, FailuresLeaveTheItemAndNoInfoBehind) {
    home.makeFolder("logs");
    StderrCapture log;
    moveFileToUserTrash((home.path() / "logs/missing.log").string(), fixedNow());
    EXPECT_TRUE(log.contains("Move operation did not succeed!"));
    EXPECT_FALSE(fs::exists(trash() / "info/missing.log.trashinfo"));

    fs::path item = home.writeFile("locked/kept.log", "x");
    Immutable locked(item.parent_path());
    if (!locked.ok()) GTEST_SKIP() << "chattr +i is not available here";
    moveFileToUserTrash(item.string(), fixedNow());
    EXPECT_TRUE(log.contains("moveFileToUserTrash => item [" + item.string() + "] is NOT deletable..."));
    EXPECT_FALSE(fs::exists(trash() / "files/kept.log"));
}

TEST(TolvFileExtrasTest, ModificationDateMustBeStrictlyEarlier) {
    TempHome home;
    fs::path file = home.writeFile("f", "x");
    auto modified = platform::Date(std::chrono::seconds(1331115300) + std::chrono::nanoseconds(123456789));
    fs::last_write_time(file, fs::file_time_type::clock::from_sys(modified));
    EXPECT_FALSE(itemIsEarlierThan(file.string(), modified, NSFileModificationDate));
    EXPECT_TRUE(itemIsEarlierThan(file.string(), modified + std::chrono::nanoseconds(1), std::nullopt));
    EXPECT_FALSE(itemIsEarlierThan(file.string(), modified - std::chrono::seconds(1), "SomeOtherKey"));

    StderrCapture log;
    auto future = std::chrono::system_clock::now() + std::chrono::hours(1);
    EXPECT_FALSE(itemIsEarlierThan((home.path() / "missing").string(), future, std::nullopt));
    EXPECT_TRUE(log.contains("itemIsEarlierThan -> file may NOT exist anymore?????"));
    // A link answers for itself, even when its target is gone.
    fs::create_symlink(home.path() / "missing", home.path() / "dangling");
    EXPECT_TRUE(itemIsEarlierThan((home.path() / "dangling").string(), future, std::nullopt));
}

TEST(TolvFileExtrasTest, CreationDateIsTheBirthTimeWhereTheFileSystemKeepsOne) {
    TempHome home;
    fs::path file = home.writeFile("f", "x");
    auto now = std::chrono::system_clock::now();
    auto longAgo = platform::Date(std::chrono::seconds(946684800)); // 2000
    fs::last_write_time(file, fs::file_time_type::clock::from_sys(longAgo));
    // Born just now though modified in 2000 (the key is matched ignoring case).
    EXPECT_FALSE(itemIsEarlierThan(file.string(), longAgo + std::chrono::hours(24), "nsFileCreationDate"));
    EXPECT_TRUE(itemIsEarlierThan(file.string(), now + std::chrono::hours(1), NSFileCreationDate));
    EXPECT_TRUE(itemIsEarlierThan(file.string(), longAgo + std::chrono::hours(24), NSFileModificationDate));

    // procfs keeps no birth times: the modification date stands in.
    StderrCapture log;
    EXPECT_TRUE(itemIsEarlierThan("/proc/version", now + std::chrono::hours(1), NSFileCreationDate));
    EXPECT_TRUE(log.contains("Inside itemIsEarlierThan => fileCreationDate isEqualToDate zeroDate2: [1970-01-01 00:00:00 +0000]"));
    EXPECT_FALSE(itemIsEarlierThan("/proc/version", platform::Date(std::chrono::seconds(1)), NSFileCreationDate));
}
