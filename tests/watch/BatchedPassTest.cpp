// The archive pass picks its copying engine from the fast-archiving
// preference; everything around the copy stays as it is.
#include "support/ChildProcesses.h"
#include "support/ChildrenInTheFuture.h"
#include "support/StderrCapture.h"
#include "watch/WatcherTestFixture.h"

#include <optional>

using namespace watch_test;
using testing_support::StderrCapture;

namespace {

class BatchedPassTest : public WatcherTest {
protected:
    // One scan of slot 1 through its watcher, waited for to its end.
    void runPass() {
        scan();
        ASSERT_TRUE(waitIdle());
    }
};

const char* const kOneRunCopy = " names from ./";
const char* const kPerFileCopy = "-exec rsync -lptogRq --timeout=120 --backup ";

} // namespace

TEST_F(BatchedPassTest, ThePreferenceChoosesTheEngineOfEachPass) {
    makeWatcher(1);
    PassRecorder recorder;
    struct Case {
        std::optional<bool> fast;
        const char* used;
        const char* unused;
        size_t children; // with deletion off: the walk, and for the fast engine its rsync
    };
    int n = 0;
    for (const Case& c : {Case{std::nullopt, kPerFileCopy, kOneRunCopy, 1}, Case{true, kOneRunCopy, kPerFileCopy, 2},
                          Case{false, kPerFileCopy, kOneRunCopy, 1}}) {
        SCOPED_TRACE(n);
        if (c.fast) prefs().setBool(kPrefUseBatchedSynchronization, *c.fast);
        const std::string name = "sub/photo " + std::to_string(++n) + ".jpg";
        tmp.writeFile("Shoot/Main/" + name, name);
        StderrCapture log;

        runPass();

        EXPECT_EQ(testing_support::readFile(archived(1, name)), name);
        EXPECT_TRUE(log.contains(c.used)) << log.text();
        EXPECT_FALSE(log.contains(c.unused));
        EXPECT_EQ(log.count("started task "), c.children) << log.text();
        EXPECT_TRUE(prefs().objectForKey(WatcherNSObject::getPrefNameForInProgress(1)).isNone());
        EXPECT_EQ(recorder.passes(1), static_cast<size_t>(n));
    }
    EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
}

TEST_F(BatchedPassTest, AFastPassWithDeletionDeletesVerifiedCopiesBeforeTheCleanUp) {
    testing_support::ChildrenInTheFuture future(40);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    makeWatcher(1);
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    tmp.writeFile("Shoot/Main/a.jpg", "a");
    tmp.writeFile("Shoot/Main/day one/b.jpg", "b");
    StderrCapture log;

    runPass();

    EXPECT_EQ(testing_support::readFile(archived(1, "a.jpg")), "a");
    EXPECT_EQ(testing_support::readFile(archived(1, "day one/b.jpg")), "b");
    EXPECT_FALSE(fs::exists(src[1] / "a.jpg"));
    EXPECT_FALSE(fs::exists(src[1] / "day one/b.jpg"));
    // The clean-up walks start only once the deletion walk has ended, as
    // they do after the per-file engine's walk.
    const std::string text = log.text();
    const auto deletionEnd = text.find("did complete", text.find("-Btime +30d -exec cmp -s {} "));
    const auto cleanUp = text.find("Will try to delete empty folders inside this path = " + src[1].string());
    ASSERT_NE(deletionEnd, std::string::npos) << text;
    ASSERT_NE(cleanUp, std::string::npos) << text;
    EXPECT_LT(deletionEnd, cleanUp);
}
