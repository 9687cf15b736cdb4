#pragma once
// The calling thread's share of the disks: at idle priority its reads wait
// for everyone else's, so reading the archive again never slows a copy.

namespace platform {

// False when the kernel refuses (the reads then go at normal priority).
bool setIdleIoPriorityOfThisThread();

} // namespace platform
