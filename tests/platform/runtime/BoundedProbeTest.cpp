#include "platform/runtime/BoundedProbe.h"

#include <gtest/gtest.h>

#include <chrono>

using platform::BoundedProbe;
using namespace std::chrono_literals;

// A look made by a child: its answer when it ends in time, and no wait
// beyond the bound when it does not (the child is left to end by itself).
TEST(BoundedProbeTest, AnswersInTimeOrNotAtAll) {
    struct Case {
        const char* what;
        std::string path;
        std::vector<std::string> arguments;
        BoundedProbe::Answer answer;
    };
    const std::vector<Case> cases{
        {"ends well", "/bin/true", {}, BoundedProbe::Answer::Yes},
        {"ends badly", "/bin/false", {}, BoundedProbe::Answer::No},
        {"cannot start", "/nonexistent/program", {}, BoundedProbe::Answer::No},
        {"does not end in time", "/bin/sleep", {"5"}, BoundedProbe::Answer::NoAnswer},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(BoundedProbe::run(c.path, c.arguments, 300ms), c.answer) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << c.what;
    }
    EXPECT_EQ(BoundedProbe::isFolder("/", 5s), BoundedProbe::Answer::Yes);
    EXPECT_EQ(BoundedProbe::isFolder("/nonexistent folder", 5s), BoundedProbe::Answer::No);
}
