#pragma once
// A value that one thread writes and any thread may read: each read is a
// copy of one whole value, never half of an update.

#include <mutex>
#include <utility>

namespace platform {

template <class T>
class Guarded {
public:
    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }
    // change(value&) under the lock: for updates of part of the value.
    template <class Change>
    void update(Change&& change) {
        std::lock_guard lock(mutex_);
        change(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

} // namespace platform
