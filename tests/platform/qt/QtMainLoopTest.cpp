// Work queued for the main loop, from any thread, runs on Qt's GUI thread
// once its delay has passed, in the order of the delays.

#include "platform/qt/QtMainLoop.h"
#include "platform/runtime/RunLoop.h"
#include "support/QtTestApp.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

using testing_support::processEventsUntil;

TEST(QtMainLoopTest, DelayedWorkFromAnyThreadRunsOnTheGuiThreadInOrder) {
    testing_support::qtTestApp();
    platform::QtMainLoop::install();
    const auto gui = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<int> order;
    bool allOnGui = true;
    auto note = [&](int n) {
        return [&, n] {
            std::lock_guard lock(mutex);
            order.push_back(n);
            allOnGui = allOnGui && std::this_thread::get_id() == gui;
        };
    };
    std::thread([&] {
        platform::performAfterDelay(0.2, note(3));
        platform::performAfterDelay(0.1, note(2));
    }).join();
    platform::performAfterDelay(0.0, note(1));
    platform::performAfterDelay(-5.0, note(0)); // a delay in the past means now
    ASSERT_TRUE(processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 4;
    }));
    // Queued first, the delayed two still come last.
    EXPECT_EQ(order, (std::vector<int>{1, 0, 2, 3}));
    EXPECT_TRUE(allOnGui);
    platform::QtMainLoop::uninstall();
}
