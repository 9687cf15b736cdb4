#include "support/TaskDoneRecorder.h"

#include "core/CommonHeader.h"

namespace testing_support {

TaskDoneRecorder::TaskDoneRecorder() {
    platform::NotificationCenter::defaultCenter().addObserver(this, kKLVVR_TASK_DONE, [this](const platform::Notification& n) {
        Post post{n.context, std::this_thread::get_id(), std::nullopt, std::nullopt};
        if (const bool* started = n.info<bool>(kUserInfoTaskStarted)) post.started = *started;
        if (const std::int32_t* status = n.info<std::int32_t>(kUserInfoTaskStatus)) post.status = *status;
        std::lock_guard lock(mutex_);
        posts_.push_back(post);
        arrived_.notify_all();
    });
}

TaskDoneRecorder::~TaskDoneRecorder() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

bool TaskDoneRecorder::waitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return posts_.size() >= count; });
}

std::vector<TaskDoneRecorder::Post> TaskDoneRecorder::posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
}

size_t TaskDoneRecorder::count() const {
    std::lock_guard lock(mutex_);
    return posts_.size();
}

} // namespace testing_support
