#include "platform/runtime/LoopThread.h"

#include "support/RunWithin.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

using platform::LoopThread;
using namespace std::chrono_literals;

namespace {

std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

} // namespace

// Work queued from several threads runs one piece at a time, in each
// sender's order, on the loop's own thread; the thread goes with its owner,
// also when the owner goes on that very thread.
TEST(LoopThreadTest, RunsQueuedWorkInOrderOnOneThreadAndEndsWithItsOwner) {
    std::thread([] {}).join(); // a sanitizer's own thread comes with the first one
    const std::size_t before = threadCount();
    auto loop = std::make_shared<LoopThread>();
    std::vector<int> seen[4]; // touched by the loop only
    std::atomic<int> done{0}, elsewhere{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                loop->perform([&, t, i] {
                    if (!loop->isCurrent()) ++elsewhere;
                    seen[t].push_back(i);
                    ++done;
                });
        });
    for (auto& sender : senders) sender.join();
    ASSERT_TRUE(testing_support::waitUntil([&] { return done == 2000; }));
    EXPECT_EQ(elsewhere, 0);
    for (const auto& order : seen) EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    // The last owner lets go from inside the loop's own work.
    testing_support::runWithin(10s, [&] {
        auto last = std::move(loop);
        last->perform([owner = std::move(last)]() mutable { owner.reset(); });
        last.reset();
    });
    EXPECT_TRUE(testing_support::waitUntil([&] { return threadCount() <= before; }, 10s))
        << threadCount() << " threads, " << before << " before";
}
