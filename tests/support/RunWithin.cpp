#include "support/RunWithin.h"

#include <cstdio>
#include <cstdlib>
#include <future>

namespace testing_support {

void runWithin(std::chrono::seconds limit, std::function<void()> body) {
    auto done = std::async(std::launch::async, std::move(body));
    if (done.wait_for(limit) == std::future_status::timeout) {
        std::fprintf(stderr, "deadlock: the test body did not finish within %lld s\n",
                     static_cast<long long>(limit.count()));
        // The stuck thread cannot be joined; leave without running destructors.
        std::_Exit(1);
    }
    done.get(); // rethrows what the body threw
}

} // namespace testing_support
