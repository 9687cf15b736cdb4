#include "platform/runtime/NotificationCenter.h"

#include "support/RunWithin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;
using namespace std::chrono_literals;

using testing_support::runWithin;

TEST(NotificationCenterTest, DeliveryIsSynchronousOnThePostingThread) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    int owner;
    std::thread::id handlerThread;
    int calls = 0;
    center.addObserver(&owner, "WatcherDoStop", [&](const Notification&) {
        handlerThread = std::this_thread::get_id();
        ++calls;
    });
    center.post("WatcherDoStop");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());

    std::thread poster([&] {
        EXPECT_EQ(&NotificationCenter::defaultCenter(), &center);
        center.post("WatcherDoStop");
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(handlerThread, std::this_thread::get_id());
    });
    poster.join();
    center.removeObserver(&owner);
    center.post("WatcherDoStop");
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenterTest, ObserversOfTheNameGetSenderAndUserInfo) {
    NotificationCenter center;
    int first, second, other;
    std::vector<Notification> got;
    int otherCalls = 0;
    center.addObserver(&first, "WatcherDoStart", [&](const Notification& n) { got.push_back(n); });
    center.addObserver(&second, "WatcherDoStart", [&](const Notification& n) { got.push_back(n); });
    center.addObserver(&other, "WatcherDoStartAll", [&](const Notification&) { ++otherCalls; });

    auto sender = std::make_shared<int>(0);
    center.post("WatcherDoStart", sender, platform::UserInfo{{"index", std::int32_t{2}}, {"watchPath", std::string("/a")}});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(otherCalls, 0);
    const Notification& n = got[0];
    EXPECT_EQ(n.name, "WatcherDoStart");
    EXPECT_EQ(n.object.get(), sender.get());
    ASSERT_NE(n.info<std::int32_t>("index"), nullptr);
    EXPECT_EQ(*n.info<std::int32_t>("index"), 2);
    EXPECT_EQ(*n.info<std::string>("watchPath"), "/a");
    EXPECT_EQ(n.info<double>("index"), nullptr); // wrong type reads as absent
    EXPECT_EQ(n.info<std::int32_t>("missing"), nullptr);

    center.post("WatcherDoStart");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_FALSE(got[2].userInfo.has_value());
    EXPECT_EQ(got[2].info<std::int32_t>("index"), nullptr);
    center.removeObserver(&other); // never removed anything: harmless
    center.removeObserver(&other);
}

TEST(NotificationCenterTest, ContextArrivesAsTheVeryObjectPosted) {
    NotificationCenter center;
    int owner;
    auto mine = std::make_shared<std::string>("watcher 1");
    auto lookalike = std::make_shared<std::string>("watcher 1");
    std::vector<bool> isMine;
    center.addObserver(&owner, "KLVVR_TASK_DONE", [&](const Notification& n) {
        EXPECT_FALSE(n.userInfo.has_value());
        isMine.push_back(n.context.get() == mine.get());
    });
    center.postWithContext("KLVVR_TASK_DONE", mine);
    center.postWithContext("KLVVR_TASK_DONE", lookalike);
    center.postWithContext("KLVVR_TASK_DONE", nullptr);
    EXPECT_EQ(isMine, (std::vector<bool>{true, false, false}));
}

TEST(NotificationCenterTest, HandlerMayPostSubscribeAndUnsubscribe) {
    runWithin(10s, [] {
        NotificationCenter center;
        int outer, inner, victim, latecomer;
        std::vector<std::string> log;
        center.addObserver(&inner, "inner", [&](const Notification&) { log.push_back("inner"); });
        center.addObserver(&victim, "other", [&](const Notification&) { log.push_back("victim"); });
        center.addObserver(&outer, "outer", [&](const Notification&) {
            log.push_back("outer");
            center.post("inner");
            log.push_back("outer after inner");
            center.addObserver(&latecomer, "later", [&](const Notification&) { log.push_back("latecomer"); });
            center.removeObserver(&victim);
            center.removeObserver(&outer); // itself, while running
        });
        center.post("outer");
        center.post("outer");
        center.post("later");
        center.post("other");
        EXPECT_EQ(log, (std::vector<std::string>{"outer", "inner", "outer after inner", "latecomer"}));
    });
}

// Whichever runs first unsubscribes the other, which then must not be called.
TEST(NotificationCenterTest, ObserverRemovedDuringAPostIsNotCalledLater) {
    NotificationCenter center;
    int a, b;
    int calls = 0;
    center.addObserver(&a, "X", [&](const Notification&) {
        ++calls;
        center.removeObserver(&b);
    });
    center.addObserver(&b, "X", [&](const Notification&) {
        ++calls;
        center.removeObserver(&a);
    });
    center.post("X");
    EXPECT_EQ(calls, 1);
}

// Posters hammer the centre while observers come and go on another thread;
// after removeObserver returns, no call of that owner runs or starts.
TEST(NotificationCenterTest, ObserverRemovedOnAnotherThreadIsNeverCalledAfterwards) {
    runWithin(60s, [] {
        NotificationCenter center;
        std::atomic<bool> stopPosting{false};
        std::vector<std::thread> posters;
        for (int i = 0; i < 3; ++i)
            posters.emplace_back([&] {
                while (!stopPosting) center.post("WatcherItemChanged");
            });

        struct Round {
            std::atomic<int> calls{0}, running{0};
            std::atomic<bool> removed{false};
            std::atomic<int> lateCalls{0};
        };
        const int rounds = 30;
        std::vector<Round> state(rounds);
        for (Round& r : state) {
            center.addObserver(&r, "WatcherItemChanged", [&r](const Notification&) {
                if (r.removed) ++r.lateCalls;
                ++r.running;
                ++r.calls;
                std::this_thread::sleep_for(100us); // widen the window for a removal mid-call
                --r.running;
            });
            while (r.calls < 5) std::this_thread::yield();
            center.removeObserver(&r);
            EXPECT_EQ(r.running, 0) << "a call was still running";
            r.removed = true;
        }
        std::this_thread::sleep_for(20ms); // let posters run on with every observer gone
        stopPosting = true;
        for (auto& t : posters) t.join();
        for (Round& r : state) EXPECT_EQ(r.lateCalls, 0);
    });
}
