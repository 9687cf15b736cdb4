// A long pass tells how far it has got: the files it has to take, from the
// walk it makes anyway, and those its copy runs have finished with.
#include "watch/SlotState.h"
#include "watch/WatcherTestFixture.h"

using namespace watch_test;

namespace {

class PassProgressTest : public WatcherTest {};

TEST_F(PassProgressTest, TheCountRisesToTheTotalWithEitherEngineAndGoesWithThePass) {
    struct Case {
        bool fast;
        int files;
    };
    makeWatcher(1);
    for (const Case& c : {Case{false, 150}, Case{true, 3000}}) {
        SCOPED_TRACE(c.fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, c.fast);
        const fs::path folder = src[1] / (c.fast ? "fast" : "per file");
        for (int i = 0; i < c.files; ++i) writeFile(folder / ("IMG_" + std::to_string(i) + ".jpg"), "p");
        std::vector<PassProgress::Shown> seen;

        scan();
        while (w[1]->_insideFoundItemLoop()) {
            if (auto now = w[1]->progress()) seen.push_back(*now);
            std::this_thread::sleep_for(1ms);
        }

        ASSERT_FALSE(seen.empty());
        for (size_t i = 1; i < seen.size(); ++i) ASSERT_LE(seen[i - 1].done, seen[i].done);
        EXPECT_EQ(seen.back().total, c.files);
        // The last file's count and the pass's end may come between two looks.
        EXPECT_GE(seen.back().done, c.files - 1) << "the count ends at the total";
        ASSERT_TRUE(PassResult::load(1));
        EXPECT_EQ(PassResult::load(1)->copied, c.files);
        if (!c.fast) {
            // One rsync a file: the row sees the count between its ends.
            EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](auto& s) { return s.done > 0 && s.done < c.files; }));
            SlotState::Inputs busy;
            busy.enabled = busy.watching = busy.busy = true;
            busy.progress = seen[seen.size() / 2];
            const std::string expected = "Archiving " + std::to_string(busy.progress->done) + " of " +
                                         std::to_string(c.files);
            EXPECT_EQ(SlotState::of(busy, {}).title().rfind(expected, 0), 0u) << SlotState::of(busy, {}).title();
        }
        EXPECT_EQ(w[1]->progress(), std::nullopt);
        fs::remove_all(folder);
    }
}

} // namespace
