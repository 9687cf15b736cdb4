#pragma once
// How far a running pass has got: how many files it has to take (known as
// its walk finds them) and how many its copy runs have finished with. The
// engine's threads add to it; the row, the status report and the window
// title read it from any thread. A pass that has nothing to copy shows none.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class PassProgress {
public:
    PassProgress() : began_(std::chrono::steady_clock::now()) {}

    void addTotal(std::int64_t files) { total_ += files; }
    void addDone(std::int64_t files) { done_ += files; }
    // For a count read from a run's own report as it goes: never backwards.
    void raiseDoneTo(std::int64_t files) {
        std::int64_t now = done_.load();
        while (files > now && !done_.compare_exchange_weak(now, files)) {
        }
    }

    // "20,000": a count as people read it.
    static std::string grouped(std::int64_t n);

    struct Shown {
        std::int64_t done = 0;
        std::int64_t total = 0;
        // From the pace so far, once there is one to go by.
        std::optional<std::chrono::seconds> left;
        // "3,412 of 20,000 · about 2 min left"
        std::string text() const;
        // The share done, 0 to 1.
        double share() const { return total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0; }
    };
    // nullopt while there is nothing to show (nothing to copy yet).
    std::optional<Shown> shown() const;

private:
    const std::chrono::steady_clock::time_point began_;
    std::atomic<std::int64_t> total_{0};
    std::atomic<std::int64_t> done_{0};
};
