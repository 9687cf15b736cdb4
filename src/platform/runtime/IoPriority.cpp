#include "platform/runtime/IoPriority.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {
// From linux/ioprio.h, which older headers lack.
constexpr int kWhoProcess = 1; // a thread's id, 0 for the calling one
constexpr int kClassIdle = 3;
constexpr int kClassShift = 13;
} // namespace

bool setIdleIoPriorityOfThisThread() {
    return ::syscall(SYS_ioprio_set, kWhoProcess, 0, kClassIdle << kClassShift) == 0;
}

} // namespace platform
