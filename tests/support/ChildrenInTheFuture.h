#pragma once
// bfs children started while it lives see the clock the given days ahead,
// so files born now count as that old. The
// kernel sets birth times, so ageing the files themselves is not possible.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

inline std::optional<std::string> libfaketime() {
    for (const char* candidate : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                                  "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
                                  "/usr/lib/faketime/libfaketime.so.1"})
        if (std::filesystem::exists(candidate)) return candidate;
    return std::nullopt;
}

class ChildrenInTheFuture {
public:
    explicit ChildrenInTheFuture(int days) {
        auto library = libfaketime();
        if (!library) return;
        setenv("LD_PRELOAD", library->c_str(), 1);
        setenv("FAKETIME", ("+" + std::to_string(days) + "d").c_str(), 1);
        // Only the clock moves: file times stay as the kernel reports them,
        // so rsync's size-and-time check and the copies' times are real.
        setenv("NO_FAKE_STAT", "1", 1);
        // Waits measured on the monotonic clock (bounded waits, timers) stay
        // real: a deadline of the faked clock handed to the kernel's would
        // wait the days away.
        setenv("FAKETIME_DONT_FAKE_MONOTONIC", "1", 1);
        // Only bfs judges ages. rsync and cmp keep the real clock: rsync's
        // waits under a faked one have been seen to stall for a minute.
        setenv("FAKETIME_ONLY_CMDS", "bfs", 1);
        active_ = true;
    }
    ~ChildrenInTheFuture() {
        unsetenv("LD_PRELOAD");
        unsetenv("FAKETIME");
        unsetenv("NO_FAKE_STAT");
        unsetenv("FAKETIME_DONT_FAKE_MONOTONIC");
        unsetenv("FAKETIME_ONLY_CMDS");
    }
    ChildrenInTheFuture(const ChildrenInTheFuture&) = delete;
    ChildrenInTheFuture& operator=(const ChildrenInTheFuture&) = delete;
    bool active() const { return active_; }

private:
    bool active_ = false;
};

} // namespace testing_support
