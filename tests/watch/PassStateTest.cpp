// What a pass leaves for the user to see, with the real tools: its counts,
// the error that spoiled it, and the error gone once a pass succeeds again.
#include "support/ChildrenInTheFuture.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/ScopedMount.h"
#include "pass/PassResult.h"
#include "watch/WatcherTestFixture.h"

#include <fstream>

using namespace watch_test;
using testing_support::fileContents;
using testing_support::FileContents;

namespace {

class PassStateTest : public WatcherTest {
protected:
    void SetUp() override {
        WatcherTest::SetUp();
        makeWatcher(1);
    }
    PassResult runPass() {
        scan();
        EXPECT_TRUE(waitIdle());
        auto result = PassResult::load(1);
        EXPECT_TRUE(result) << "no result stored";
        return result.value_or(PassResult{});
    }
    // Files new or changed in the archive folder between two looks at it.
    static std::int64_t changed(const FileContents& before, const FileContents& after) {
        std::int64_t n = 0;
        for (const auto& [name, contents] : after) {
            auto it = before.find(name);
            n += it == before.end() || it->second != contents;
        }
        return n;
    }
    static void writeBytes(const fs::path& file, size_t size) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << std::string(size, 'x');
    }
};

} // namespace

TEST_F(PassStateTest, AFailedCopyIsAnErrorUntilAPassCopiesIt) {
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        const std::string tag = fast ? "fast" : "slow";
        tmp.writeFile("Shoot/Main/" + tag + "/a.jpg", "a");
        tmp.writeFile("Shoot/Main/" + tag + "/b.jpg", "b");
        // A non-empty folder where b's copy must go: rsync cannot put the file there.
        tmp.writeFile("Backup/Archive/Main/" + tag + "/b.jpg/keep", "k");
        // Each pass's counts, held against what changed in the archive.
        auto expectPass = [&](std::int64_t failed, const std::string& error) {
            const auto before = fileContents(dest / "Main");
            const PassResult result = runPass();
            EXPECT_EQ(result.copied, changed(before, fileContents(dest / "Main")));
            EXPECT_EQ(result.copied, 1);
            EXPECT_EQ(result.failed, failed);
            EXPECT_EQ(result.error, error);
            EXPECT_EQ(result.oldestUnarchived.has_value(), failed > 0);
            // The file to name to the user, as stored for the next start too.
            EXPECT_EQ(result.firstFailed, failed > 0 ? tag + "/b.jpg" : "");
            EXPECT_EQ(PassResult::load(1)->firstFailed, result.firstFailed);
        };
        expectPass(1, "1 copy failed");
        fs::remove_all(archived(1, tag + "/b.jpg"));
        expectPass(0, "");
        EXPECT_EQ(testing_support::readFile(archived(1, tag + "/b.jpg")), "b");
    }
}

TEST_F(PassStateTest, AMissingFolderIsAnErrorUntilItIsBack) {
    tmp.writeFile("Shoot/Main/a.jpg", "a");
    // Without alias data, as an older version left it, nothing finds the moved folder.
    prefs().removeObjectForKey("prefDestinationFolderPathAliasDataFormat1");
    fs::rename(dest, tmp.path() / "Backup/away");
    PassResult missing = runPass();
    EXPECT_EQ(missing.error, "destination missing");
    EXPECT_TRUE(missing.oldestUnarchived); // the photo waits, and the alarm counts from now
    EXPECT_TRUE(fs::exists(src[1] / "a.jpg"));

    fs::rename(tmp.path() / "Backup/away", dest);
    PassResult back = runPass();
    EXPECT_EQ(back.error, "");
    EXPECT_EQ(back.copied, 1);
    EXPECT_EQ(testing_support::readFile(archived(1, "a.jpg")), "a");

    fs::rename(src[1], tmp.path() / "Shoot/elsewhere");
    EXPECT_EQ(runPass().error, "source missing");
}

TEST_F(PassStateTest, AFullDestinationGetsNoCopiesAndTheSourceLosesNothing) {
    std::string why;
    auto volume = testing_support::ScopedMount::tmpfs(dest, &why); // 16 MB
    if (!volume) GTEST_SKIP() << why;
    testing_support::chooseDestination(dest); // the disk, not the folder it is mounted on
    testing_support::ChildrenInTheFuture future(3);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 1);
    tmp.writeFile("Shoot/Main/a.jpg", "a");
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        // Below the floor: a pass neither copies nor deletes.
        writeBytes(dest / "filler", 12 << 20);
        prefs().setInteger(kPrefMinimumFreeSpaceMB, 8);
        const FileContents source = fileContents(src[1]);
        PassResult full = runPass();
        EXPECT_EQ(full.error, "destination full");
        EXPECT_EQ(fileContents(src[1]), source);
        EXPECT_FALSE(fs::exists(dest / "Main"));
        fs::remove(dest / "filler");
    }
    // A copy that finds the disk full on the way, with no floor: rsync says
    // so (fast engine), or the disk has less room than the file that failed.
    prefs().setInteger(kPrefMinimumFreeSpaceMB, 0);
    writeBytes(src[1] / "big.raw", 20 << 20);
    const FileContents source = fileContents(src[1]);
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        PassResult overflow = runPass();
        EXPECT_EQ(overflow.error, "destination full");
        EXPECT_TRUE(fs::exists(src[1] / "big.raw"));
        testing_support::expectNothingLost(source, src[1], dest / "Main");
    }
}
