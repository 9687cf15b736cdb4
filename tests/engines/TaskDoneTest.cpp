#include "engines/CopyJob.h"

#include "core/CommonHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The owner of a run hears of its end first and once, whichever path ends
// it how often; listeners hear of it after, with the run's context.
TEST(TaskDoneTest, TheOwnerHearsOfItsRunFirstAndOnce) {
    std::vector<std::string> heard;
    auto mine = std::make_shared<int>(1);
    platform::NotificationCenter::defaultCenter().addObserver(&heard, kKLVVR_TASK_DONE, [&](const auto& n) {
        EXPECT_EQ(n.context, mine);
        heard.push_back("listener");
    });
    CopyJob job;
    job.context = mine;
    job.ended = [&](const RunEnd& end) {
        EXPECT_FALSE(end.started);
        heard.push_back("owner");
    };
    const CopyJob copy = job; // as a run's threads hold it
    job.notStarted();
    copy.finish(platform::Task::Termination{.pid = 1, .status = 0, .signaled = false, .started = true}, PassCounts{});
    platform::NotificationCenter::defaultCenter().removeObserver(&heard);
    EXPECT_EQ(heard, (std::vector<std::string>{"owner", "listener"}));
}
