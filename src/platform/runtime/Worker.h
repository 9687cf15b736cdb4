#pragma once
// Work on a thread of its own, not waited for: a copy run, a count, a look
// that may take long. A thread that cannot be made, or work that throws,
// is told to `failed` with the reason instead of ending the application.

#include <functional>
#include <string>

namespace platform {

using WorkFailed = std::function<void(const std::string& reason)>;

// Returns false when no thread could be made (failed has then been called).
bool startWorker(std::function<void()> work, WorkFailed failed);

} // namespace platform
