#include "platform/alias/MountTableWatch.h"

#include "support/RunWithin.h"
#include "support/ScopedMount.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::MountTableWatch;
using Reason = MountTableWatch::Reason;
using testing_support::runWithin;
using testing_support::ScopedMount;

namespace {

// Every callback in order of arrival, for the test thread to wait on.
class Calls {
public:
    MountTableWatch::Callback callback() {
        return [this](Reason reason) { record(reason); };
    }
    void record(Reason reason) {
        std::lock_guard lock(mutex_);
        reasons_.push_back(reason);
        changed_.notify_all();
    }
    // NO when fewer than `count` callbacks of the reason came within the limit.
    bool waitFor(Reason reason, std::size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return countLocked(reason) >= count; });
    }
    std::size_t count(Reason reason) {
        std::lock_guard lock(mutex_);
        return countLocked(reason);
    }
    std::optional<Reason> first() {
        std::lock_guard lock(mutex_);
        if (reasons_.empty()) return std::nullopt;
        return reasons_.front();
    }

private:
    std::size_t countLocked(Reason reason) const {
        return static_cast<std::size_t>(std::count(reasons_.begin(), reasons_.end(), reason));
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Reason> reasons_;
};

// Holds callbacks until the test opens it, so the test can act while one runs.
class Gate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace

// The owner learns the state at once, then of every mount and unmount.
TEST(MountTableWatchTest, MountingAndUnmountingAreSeenLongBeforeTheInterval) {
    testing_support::TempHome folder;
    Calls calls;
    MountTableWatch watch(60s, calls.callback());
    ASSERT_TRUE(calls.waitFor(Reason::Woken, 1));
    EXPECT_EQ(calls.first(), Reason::Woken);

    const auto beforeMount = calls.count(Reason::MountsChanged);
    std::string why;
    auto mount = ScopedMount::tmpfs(folder.path() / "volume", &why);
    if (!mount) GTEST_SKIP() << why;
    EXPECT_TRUE(calls.waitFor(Reason::MountsChanged, beforeMount + 1)) << "no callback for the mount";

    const auto beforeUnmount = calls.count(Reason::MountsChanged);
    ASSERT_TRUE(mount->unmount());
    EXPECT_TRUE(calls.waitFor(Reason::MountsChanged, beforeUnmount + 1)) << "no callback for the unmount";
}

TEST(MountTableWatchTest, WakesDuringACallbackGiveOneMoreCallback) {
    Gate gate;
    Calls calls;
    MountTableWatch watch(60s, [&](Reason reason) {
        calls.record(reason);
        gate.pass();
    });
    ASSERT_TRUE(calls.waitFor(Reason::Woken, 1)); // the first callback, now held at the gate
    for (int i = 0; i < 3; ++i) watch.wake();
    gate.open();
    EXPECT_TRUE(calls.waitFor(Reason::Woken, 2));
    EXPECT_FALSE(calls.waitFor(Reason::Woken, 3, 300ms)) << "each wake gave a callback of its own";

    watch.wake();
    EXPECT_TRUE(calls.waitFor(Reason::Woken, 3)) << "a wake after the callbacks went unanswered";
}

TEST(MountTableWatchTest, AShortIntervalGivesIntervalCallbacks) {
    struct Case {
        const char* name;
        std::chrono::milliseconds atStart;
        std::optional<std::chrono::milliseconds> later;
    };
    const Case cases[] = {
        {"short from the start", 20ms, std::nullopt},
        {"shortened from another thread while waiting", 60s, 20ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Calls calls;
        MountTableWatch watch(c.atStart, calls.callback());
        ASSERT_TRUE(calls.waitFor(Reason::Woken, 1));
        if (c.later) watch.setInterval(*c.later);
        EXPECT_TRUE(calls.waitFor(Reason::Interval, 3));
        EXPECT_EQ(calls.count(Reason::Woken), 1u) << "changing the interval is not a wake";
    }
}

TEST(MountTableWatchTest, DestructionEndsAThreadWaitingInPoll) {
    runWithin(20s, [] {
        Calls calls;
        auto token = std::make_shared<int>();
        std::weak_ptr<int> watched = token;
        auto watch = std::make_unique<MountTableWatch>(60s, [&calls, token](Reason reason) { calls.record(reason); });
        token.reset();
        ASSERT_TRUE(calls.waitFor(Reason::Woken, 1));

        const auto start = std::chrono::steady_clock::now();
        watch.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_TRUE(watched.expired()) << "the thread was not joined";
    });
}
