#pragma once
// A per-thread run loop with timers, file-descriptor sources and queued
// work. run() blocks until stop(), which may be called from any thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class RunLoop {
public:
    using Seconds = std::chrono::duration<double>;
    using Id = std::uint64_t;

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The loop of the calling thread, made on first use.
    static std::shared_ptr<RunLoop> current();

    void run();          // until stop(); returns at once if already stopped
    void stop();         // any thread; run() returns within a few ms. Final:
                         // a stopped loop stays stopped (runOnce still works)
    bool isStopped() const;
    // Runs ready work once, waiting at most timeout for some to arrive.
    void runOnce(Seconds timeout);

    // Timers fire on the loop's thread; interval 0 fires once.
    Id addTimer(Seconds firstFire, Seconds interval, std::function<void()> callback);
    void setTimerNextFire(Id timer, Seconds fromNow);
    void removeTimer(Id timer);

    // Calls onReadable on the loop's thread whenever fd is readable.
    Id addFdSource(int fd, std::function<void()> onReadable);
    void removeFdSource(Id source);

    // Queues fn to run on the loop's thread; safe from any thread.
    void perform(std::function<void()> fn);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The main thread's loop. In the application it is Qt's event loop (the
// GUI installs a backend); tools and tests run a plain RunLoop instead.
class MainLoop {
public:
    using Backend = std::function<void(double seconds, std::function<void()> fn)>;
    static void setBackend(Backend backend);
    // Without a backend, work goes to this plain loop, which whoever plays
    // the main thread runs.
    static std::shared_ptr<RunLoop> plainLoop();
};

// Queues fn on the main thread's loop, after the delay.
void performAfterDelay(double seconds, std::function<void()> fn);

} // namespace platform
