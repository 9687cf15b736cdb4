#pragma once
// Waits on observable state instead of sleeping a guessed time: asks done()
// every `every` until it holds or the timeout has passed.

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30),
                      std::chrono::milliseconds every = std::chrono::milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        std::this_thread::sleep_for(every);
    }
    return true;
}

} // namespace testing_support
