#include "platform/runtime/RunLoop.h"

#include "support/RunWithin.h"
#include "support/StderrCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <future>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::RunLoop;
using testing_support::runWithin;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// Runs a loop on a thread of its own, made there with RunLoop::current().
class LoopThread {
public:
    LoopThread() {
        std::promise<std::shared_ptr<RunLoop>> made;
        auto ready = made.get_future();
        // The thread owns the promise: set_value may still be returning when get() does.
        thread_ = std::thread([this, made = std::move(made)]() mutable {
            made.set_value(RunLoop::current());
            RunLoop::current()->run();
            returned_.set_value(Clock::now());
        });
        loop_ = ready.get();
        id_ = thread_.get_id();
    }
    ~LoopThread() {
        loop_->stop();
        if (thread_.joinable()) thread_.join();
    }
    RunLoop& loop() { return *loop_; }
    std::thread::id id() const { return id_; }
    // When run() returned, or nothing if it has not within the limit.
    std::optional<Clock::time_point> returned(std::chrono::seconds limit) {
        auto f = returned_.get_future();
        if (f.wait_for(limit) != std::future_status::ready) return std::nullopt;
        return f.get();
    }

private:
    std::shared_ptr<RunLoop> loop_;
    std::promise<Clock::time_point> returned_;
    std::thread thread_;
    std::thread::id id_;
};

} // namespace

TEST(RunLoopTest, StopFromAnotherThreadEndsRunPromptly) {
    LoopThread t;
    std::this_thread::sleep_for(100ms); // let it settle into its wait
    auto stopped = Clock::now();
    t.loop().stop();
    auto returned = t.returned(10s);
    ASSERT_TRUE(returned.has_value()) << "run() did not return";
    EXPECT_LT(*returned - stopped, 500ms); // loose: a behaviour check, not a benchmark
    EXPECT_TRUE(t.loop().isStopped());
}

TEST(RunLoopTest, RunOfAStoppedLoopReturnsAtOnce) {
    runWithin(10s, [] {
        RunLoop loop;
        EXPECT_FALSE(loop.isStopped());
        loop.stop();
        loop.run();
        loop.runOnce(RunLoop::Seconds(0.01)); // still usable for one pass
    });
}

TEST(RunLoopTest, RepeatingTimerFiresAtItsInterval) {
    runWithin(20s, [] {
        RunLoop loop;
        const auto interval = 50ms;
        std::vector<Clock::time_point> fires;
        auto start = Clock::now();
        loop.addTimer(interval, interval, [&] {
            fires.push_back(Clock::now());
            if (fires.size() == 6) loop.stop();
        });
        loop.run();
        ASSERT_EQ(fires.size(), 6u);
        // Never early; a late fire does not push later ones back.
        for (size_t k = 0; k < fires.size(); ++k) EXPECT_GE(fires[k] - start, (k + 1) * interval) << "fire " << k;
        EXPECT_LT(fires.back() - start, 6 * interval + 1s);
    });
}

TEST(RunLoopTest, OneShotTimersFireOnceAndCanBeMovedOrRemoved) {
    runWithin(20s, [] {
        RunLoop loop;
        int once = 0, moved = 0, removed = 0, selfRemoving = 0, addedLater = 0;
        loop.addTimer(RunLoop::Seconds(0.01), RunLoop::Seconds(0), [&] { ++once; });
        RunLoop::Id far = loop.addTimer(RunLoop::Seconds(3600), RunLoop::Seconds(0), [&] { ++moved; });
        loop.setTimerNextFire(far, RunLoop::Seconds(0.02));
        RunLoop::Id gone = loop.addTimer(RunLoop::Seconds(0.01), RunLoop::Seconds(0), [&] { ++removed; });
        loop.removeTimer(gone);
        RunLoop::Id repeating = 0;
        repeating = loop.addTimer(RunLoop::Seconds(0.01), RunLoop::Seconds(0.01), [&] {
            if (++selfRemoving == 3) {
                loop.removeTimer(repeating);
                loop.addTimer(RunLoop::Seconds(0), RunLoop::Seconds(0), [&] { ++addedLater; });
            }
        });
        loop.addTimer(RunLoop::Seconds(0.3), RunLoop::Seconds(0), [&] { loop.stop(); });
        loop.run();
        EXPECT_EQ(once, 1);
        EXPECT_EQ(moved, 1);
        EXPECT_EQ(removed, 0);
        EXPECT_EQ(selfRemoving, 3);
        EXPECT_EQ(addedLater, 1);
    });
}

TEST(RunLoopTest, FdSourceIsCalledOnTheLoopThreadWhileReadable) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    LoopThread t;
    std::string received;
    std::atomic<int> calls{0};
    // Shared with the callbacks, which may still be inside set_value when the wait returns.
    auto gotAll = std::make_shared<std::promise<void>>();
    std::atomic<bool> wrongThread{false};
    RunLoop::Id source = t.loop().addFdSource(fds[0], [&, gotAll] {
        if (std::this_thread::get_id() != t.id()) wrongThread = true;
        ++calls;
        char buf[64];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) received.append(buf, static_cast<size_t>(n));
        if (received == "one two ") gotAll->set_value();
    });
    ASSERT_EQ(write(fds[1], "one ", 4), 4);
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(write(fds[1], "two ", 4), 4);
    ASSERT_EQ(gotAll->get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(wrongThread);

    // Once removed, data waiting in the pipe calls nobody.
    auto removedDone = std::make_shared<std::promise<void>>();
    t.loop().perform([&, removedDone] {
        t.loop().removeFdSource(source);
        removedDone->set_value();
    });
    removedDone->get_future().wait();
    int before = calls;
    ASSERT_EQ(write(fds[1], "three", 5), 5);
    auto passed = std::make_shared<std::promise<void>>();
    t.loop().addTimer(RunLoop::Seconds(0.1), RunLoop::Seconds(0), [passed] { passed->set_value(); });
    passed->get_future().wait();
    EXPECT_EQ(calls, before);
    t.loop().stop();
    t.returned(10s);
    close(fds[0]);
    close(fds[1]);
}

TEST(RunLoopTest, SourceWhoseDescriptorWasClosedIsDroppedAndLogged) {
    runWithin(20s, [] {
        testing_support::StderrCapture err;
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        RunLoop loop;
        int calls = 0;
        loop.addFdSource(fds[0], [&] { ++calls; });
        close(fds[0]);
        close(fds[1]);
        for (int i = 0; i < 3; ++i) loop.runOnce(RunLoop::Seconds(0.05));
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(err.contains("not open")) << err.text();
        EXPECT_EQ(err.lines().size(), 1u) << err.text();
    });
}

TEST(RunLoopTest, WorkPerformedFromOtherThreadsRunsInOrderOnTheLoopThread) {
    LoopThread t;
    const int producers = 4, each = 500;
    std::vector<std::vector<int>> order(producers); // touched on the loop thread only
    std::atomic<int> done{0};
    std::atomic<bool> wrongThread{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&, p] {
            for (int i = 0; i < each; ++i)
                t.loop().perform([&, p, i] {
                    if (std::this_thread::get_id() != t.id()) wrongThread = true;
                    order[p].push_back(i);
                    if (++done == producers * each) t.loop().stop();
                });
        });
    for (auto& th : threads) th.join();
    ASSERT_TRUE(t.returned(20s).has_value());
    EXPECT_FALSE(wrongThread);
    for (const auto& seq : order) {
        ASSERT_EQ(seq.size(), static_cast<size_t>(each));
        EXPECT_TRUE(std::is_sorted(seq.begin(), seq.end()));
    }
}

TEST(RunLoopTest, CurrentIsOneLoopPerThread) {
    auto mine = RunLoop::current();
    EXPECT_EQ(RunLoop::current(), mine);
    std::shared_ptr<RunLoop> theirs;
    std::thread([&] { theirs = RunLoop::current(); }).join();
    EXPECT_NE(theirs, mine);
}

TEST(RunLoopTest, DelayedWorkGoesToThePlainMainLoopWithoutBackend) {
    runWithin(20s, [] {
        std::vector<std::string> ran;
        std::thread::id ranOn;
        platform::performAfterDelay(0.1, [&] { ran.push_back("later"); });
        platform::performAfterDelay(0.0, [&] {
            ran.push_back("sooner");
            ranOn = std::this_thread::get_id();
        });
        EXPECT_TRUE(ran.empty()); // queued, not run in place
        auto loop = platform::MainLoop::plainLoop();
        for (int i = 0; i < 100 && ran.size() < 2; ++i) loop->runOnce(RunLoop::Seconds(1));
        EXPECT_EQ(ran, (std::vector<std::string>{"sooner", "later"}));
        EXPECT_EQ(ranOn, std::this_thread::get_id());
    });
}

