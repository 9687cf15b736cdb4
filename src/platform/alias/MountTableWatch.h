#pragma once
// Tells its owner when the mounts may have changed: a thread of its own waits
// on /proc/self/mountinfo (the kernel flags it on every mount, unmount and
// move), on a periodic re-check and on explicit wakes, and calls back on that
// thread. Without /proc only the interval and wakes remain.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

class MountTableWatch {
public:
    enum class Reason { MountsChanged, Interval, Woken };
    using Callback = std::function<void(Reason)>;

    // Starts the thread. The first callback comes at once with Reason::Woken,
    // so the owner learns the current state without waiting. An interval of
    // zero or less turns the periodic re-check off. Throws std::system_error
    // when the thread or its wake-up descriptor cannot be made.
    MountTableWatch(std::chrono::milliseconds interval, Callback callback);
    // Stops the thread and waits for a callback running on it, so it must not
    // be called from the callback, nor wait for the thread that destroys it.
    ~MountTableWatch();
    MountTableWatch(const MountTableWatch&) = delete;
    MountTableWatch& operator=(const MountTableWatch&) = delete;

    // Any thread. Wakes that come while a callback runs give one more
    // callback, not one each.
    void wake();
    // Any thread. The next Interval callback comes this long after the last
    // callback ended.
    void setInterval(std::chrono::milliseconds interval);

private:
    struct State; // what the thread uses; it ends before the state goes
    std::unique_ptr<State> state_;
    std::thread thread_;
};

} // namespace platform
