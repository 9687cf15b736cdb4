#pragma once
// Records the notifications of some names as they are posted: in which
// order, from which thread, with which object and slot index.

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class NotificationRecorder {
public:
    struct Entry {
        std::string name;
        const void* object = nullptr;
        std::thread::id thread;
        bool hasUserInfo = false;
        std::optional<std::int32_t> index;
    };

    explicit NotificationRecorder(const std::vector<std::string>& names) {
        for (const auto& name : names)
            platform::NotificationCenter::defaultCenter().addObserver(
                this, name, [this](const platform::Notification& n) { record(n); });
    }
    ~NotificationRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(this); }
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;

    std::vector<Entry> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : entries()) out.push_back(e.name);
        return out;
    }
    size_t count(const std::string& name) const {
        auto all = names();
        return static_cast<size_t>(std::count(all.begin(), all.end(), name));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    void record(const platform::Notification& n) {
        Entry e{n.name, n.object.get(), std::this_thread::get_id(), n.userInfo.has_value(), std::nullopt};
        if (const auto* index = n.info<std::int32_t>(kUserInfoIndex)) e.index = *index;
        std::lock_guard lock(mutex_);
        entries_.push_back(e);
    }

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace testing_support
