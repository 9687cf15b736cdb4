#include "platform/runtime/BoundedCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using platform::BoundedCall;
using namespace std::chrono_literals;

TEST(BoundedCallTest, AStuckCallHoldsNobodyAndIsNotStartedTwice) {
    BoundedCall lane;
    auto answered = std::make_shared<std::atomic<int>>(0);
    EXPECT_TRUE(lane.run([answered] { ++*answered; }, 5s));
    EXPECT_EQ(*answered, 1);

    // A call that hangs is given up after its bound and left running.
    auto hold = std::make_shared<std::atomic<bool>>(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lane.run(
        [hold] {
            while (*hold) std::this_thread::sleep_for(5ms);
        },
        100ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(lane.stuck());
    // While it hangs, later calls fail at once, without starting their work.
    EXPECT_FALSE(lane.run([answered] { ++*answered; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(*answered, 1);

    // Once it ends, the lane works again.
    *hold = false;
    while (lane.stuck()) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(lane.run([answered] { ++*answered; }, 5s));
    EXPECT_EQ(*answered, 2);
}

TEST(BoundedCallTest, ACallerWaitsForAnotherCallersWorkWithinItsBoundAndStopsWhenAsked) {
    BoundedCall lane;
    std::thread slow([lane]() mutable { lane.run([] { std::this_thread::sleep_for(200ms); }, 5s); });
    std::this_thread::sleep_for(50ms);
    // The slow call is not stuck: this one waits for it, then runs.
    auto ran = std::make_shared<std::atomic<bool>>(false);
    EXPECT_TRUE(lane.run([ran] { *ran = true; }, 5s));
    EXPECT_TRUE(*ran);
    slow.join();

    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(lane.run([] { std::this_thread::sleep_for(500ms); }, 30s, stop.get_token()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
    stopper.join();
}
