#include "engines/TaskDone.h"

#include "core/CommonHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(TaskDoneTest, TheOwnerHearsOfItsRunFirstAndOnce) {
    std::vector<std::string> heard;
    auto mine = std::make_shared<int>(1), other = std::make_shared<int>(2);
    platform::NotificationCenter::defaultCenter().addObserver(&heard, kKLVVR_TASK_DONE, [&](const auto& n) {
        heard.push_back(n.context == mine ? "listener: mine" : "listener: other");
    });
    TaskDone::expect(mine, [&](const platform::Notification& n) {
        EXPECT_EQ(n.context, mine);
        heard.push_back("owner");
    });
    TaskDone::postNotStarted(other);
    TaskDone::postNotStarted(mine);
    TaskDone::postNotStarted(mine); // a second end of the same context goes to listeners only
    platform::NotificationCenter::defaultCenter().removeObserver(&heard);
    EXPECT_EQ(heard, (std::vector<std::string>{"listener: other", "owner", "listener: mine", "listener: mine"}));
}
