// SIGTERM and SIGINT become calls on the GUI thread instead of ending the
// process where it stands.

#include "platform/qt/QtTerminationSignals.h"
#include "support/QtTestApp.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

TEST(QtTerminationSignalsTest, SignalsArriveAsCallsOnTheGuiThread) {
    testing_support::qtTestApp();
    std::vector<int> received;
    bool onGui = true;
    const auto gui = std::this_thread::get_id();
    ASSERT_TRUE(platform::QtTerminationSignals::install([&](int signalNumber) {
        received.push_back(signalNumber);
        onGui = onGui && std::this_thread::get_id() == gui;
    }));
    std::thread([] { kill(getpid(), SIGTERM); }).join();
    raise(SIGINT);
    EXPECT_TRUE(received.empty()); // nothing runs inside the signal handler
    EXPECT_TRUE(testing_support::processEventsUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    EXPECT_TRUE(onGui);
}
