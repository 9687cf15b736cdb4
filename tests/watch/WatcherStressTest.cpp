// Three slots, four threads, a thousand mixed requests (scans, starts, stops,
// changes with photos written) while passes run: every pass starts with its
// running flag set, no request is lost (every photo written before its
// request is archived without a final scan), and nothing deadlocks.
#include "watch/WatcherTestFixture.h"

#include "support/RunWithin.h"

#include <atomic>
#include <random>

using namespace watch_test;

TEST_F(WatcherTest, AThousandMixedRequestsFromFourThreadsLoseNoneAndAlwaysFlagTheirPass) {
    makeAllWatchers();
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    std::atomic<int> begun{0}, flagless{0};
    platform::NotificationCenter::defaultCenter().addObserver(&begun, kWatcherPassDidStart, [&](const auto& n) {
        const auto* w = n.template info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj);
        if (!w || !*w) return;
        ++begun;
        if (!prefs().boolForKey(CommonHeader::inProgressKey((*w)->_index()))) ++flagless;
    });

    std::atomic<int> written{0};
    testing_support::runWithin(std::chrono::seconds(120), [&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                std::mt19937 random(static_cast<unsigned>(t));
                for (int i = 0; i < 250; ++i) {
                    const int slot = 1 + static_cast<int>(random() % 3);
                    switch (random() % 4) {
                    case 0:
                        scan();
                        break;
                    case 1:
                        post(kWatcherDoStart, index(slot));
                        break;
                    case 2:
                        post(kWatcherDoStop, index(slot));
                        break;
                    default: {
                        // A photo, then the change that names its folder.
                        const std::string name = "t" + std::to_string(t) + "/p" + std::to_string(i) + ".jpg";
                        writeFile(src[slot] / name, name);
                        ++written;
                        post(kWatcherItemChanged, platform::UserInfo{{kUserInfoWatchPath, src[slot].string()}});
                    }
                    }
                    // Spread over passes that start and end meanwhile.
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
                }
            });
        for (auto& thread : threads) thread.join();
        ASSERT_TRUE(waitIdle(90s));
    });
    platform::NotificationCenter::defaultCenter().removeObserver(&begun);

    EXPECT_GT(begun, 3);
    EXPECT_EQ(flagless, 0);
    int archived = 0;
    for (int slot = 1; slot <= 3; ++slot)
        for (const auto& [relative, contents] : testing_support::fileContents(src[slot])) {
            EXPECT_EQ(testing_support::readFile(this->archived(slot, relative)), contents) << relative;
            ++archived;
        }
    EXPECT_EQ(archived, written.load());
}
