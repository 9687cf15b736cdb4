// Runs one synchronization as a pass starts it and waits for its end, so a
// test can watch the whole of it from outside (strace):
//   synchronizeonce SOURCE ARCHIVE_FOLDER MINUTES DAYS fast|per-file
// Prints "copied N failed N deleted N".
#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "engines/KLVR_Task.h"
#include "engines/PassCounts.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

int main(int argc, char** argv) {
    if (argc != 6) return 2;
    const auto context = std::make_shared<int>(0);
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<PassCounts> counts;
    bool done = false;
    platform::NotificationCenter::defaultCenter().addObserver(&mutex, kKLVVR_TASK_DONE, [&](const auto& n) {
        if (n.context != context) return;
        std::lock_guard lock(mutex);
        if (n.userInfo) counts = PassCounts::from(*n.userInfo);
        done = true;
        ended.notify_all();
    });
    const auto minutes = static_cast<unsigned>(std::atoi(argv[3]));
    const auto days = static_cast<unsigned>(std::atoi(argv[4]));
    if (std::string(argv[5]) == "fast")
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(argv[1], argv[2], minutes, days, context);
    else
        KLVR_Task::synchronizeFileItemsAtFolderPath(argv[1], argv[2], minutes, days, context);
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return done; });
    if (!counts) return 1;
    std::printf("copied %lld failed %lld deleted %lld\n", static_cast<long long>(counts->copied),
                static_cast<long long>(counts->failed), static_cast<long long>(counts->deleted));
    return 0;
}
