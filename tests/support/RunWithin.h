#pragma once
// Runs a test body on its own thread and ends the whole test program if it
// has not finished in time, so a deadlock fails fast instead of hanging the
// suite until its timeout.

#include <chrono>
#include <functional>

namespace testing_support {

void runWithin(std::chrono::seconds limit, std::function<void()> body);

} // namespace testing_support
