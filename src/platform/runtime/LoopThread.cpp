#include "platform/runtime/LoopThread.h"

namespace platform {

LoopThread::LoopThread() : loop_(std::make_shared<RunLoop>()) {
    thread_ = std::thread([loop = loop_] { loop->run(); });
}

LoopThread::~LoopThread() {
    loop_->stop();
    thread_.detach();
}

} // namespace platform
