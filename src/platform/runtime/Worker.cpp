#include "platform/runtime/Worker.h"

#include <exception>
#include <system_error>
#include <thread>

namespace platform {

bool startWorker(std::function<void()> work, WorkFailed failed) {
    try {
        std::thread([work = std::move(work), failed] {
            // An exception leaving the thread would end the application.
            try {
                work();
            } catch (const std::exception& e) {
                if (failed) failed(e.what());
            }
        }).detach();
        return true;
    } catch (const std::system_error& e) {
        if (failed) failed(std::string("no thread: ") + e.what());
        return false;
    }
}

} // namespace platform
