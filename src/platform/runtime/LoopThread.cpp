#include "platform/runtime/LoopThread.h"

namespace platform {

LoopThread::LoopThread() : loop_(std::make_shared<RunLoop>()), ended_(std::make_shared<Ended>()) {
    thread_ = std::thread([loop = loop_, ended = ended_] {
        loop->run();
        std::lock_guard lock(ended->mutex);
        ended->done = true;
        ended->changed.notify_all();
    });
}

LoopThread::~LoopThread() {
    loop_->stop();
    if (!isCurrent()) {
        // The work under way mostly ends at once: then the thread is joined,
        // and nothing it touched is still in use when its owner, or the
        // process, goes.
        std::unique_lock lock(ended_->mutex);
        if (ended_->changed.wait_for(lock, kEndWait, [this] { return ended_->done; })) {
            lock.unlock();
            thread_.join();
            return;
        }
    }
    thread_.detach();
}

} // namespace platform
