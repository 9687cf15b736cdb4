#include "platform/Log.h"

#include "platform/Task.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <unistd.h>

using testing_support::StderrCapture;

namespace {

const std::regex kLine(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) ([^\[]+)\[(\d+):(\d+)\] (.*))");

std::string localNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    char buf[32], ms[8];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(ts.tv_nsec / 1000000));
    return std::string(buf) + ms;
}

} // namespace

TEST(LogTest, LineCarriesLocalTimeNameProcessAndThread) {
    StderrCapture err;
    std::string before = localNow();
    platform::log("hello there");
    std::string after = localNow();
    auto lines = err.lines();
    ASSERT_EQ(lines.size(), 1u) << err.text();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    // The stamp has fixed width fields, so text order is time order.
    EXPECT_LE(before, m[1].str());
    EXPECT_GE(after, m[1].str());
    EXPECT_EQ(m[2].str(), "Tolv-Archiver");
    EXPECT_EQ(std::stoi(m[3].str()), getpid());
    EXPECT_EQ(std::stoi(m[4].str()), gettid());
    EXPECT_EQ(m[5].str(), "hello there");
    EXPECT_EQ(err.text().back(), '\n');
}

TEST(LogTest, FormattedMessagesOfAnyLength) {
    StderrCapture err;
    std::string longText(20000, 'x');
    platform::logf("%s [%d] did complete with exit status %d", "/usr/bin/find", 4242, 1);
    platform::logf("long: %s.", longText.c_str());
    platform::logf("percent %% and nothing else");
    auto lines = err.lines();
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine));
    EXPECT_EQ(m[5].str(), "/usr/bin/find [4242] did complete with exit status 1");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine));
    EXPECT_EQ(m[5].str(), "long: " + longText + ".");
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine));
    EXPECT_EQ(m[5].str(), "percent % and nothing else");
}

TEST(LogTest, ProcessNameCanBeChanged) {
    StderrCapture err;
    platform::setLogProcessName("relaunch");
    platform::log("one");
    platform::setLogProcessName(TOLV_APP_NAME);
    platform::log("two");
    auto lines = err.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" relaunch["), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" Tolv-Archiver["), std::string::npos) << lines[1];
}

// Eight threads and a child process share one standard error; every line
// must come out whole, including messages that hold a newline themselves.
TEST(LogTest, LinesOfThreadsAndChildrenNeverInterleave) {
    StderrCapture err;
    const int perWriter = 1000;
    platform::Task::Options child{testing_support::testProgram("spawnee").string(),
                                  {"log", std::to_string(perWriter), "child"}, {}};
    // Shared with the handler, which may still be inside set_value when get() returns.
    auto childEnd = std::make_shared<std::promise<platform::Task::Termination>>();
    platform::Task::launch(child, [childEnd](const platform::Task::Termination& t) { childEnd->set_value(t); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < perWriter; ++i) platform::logf("thread%d %d %s", t, i, std::string(100 + i % 50, '=').c_str());
        });
    for (auto& t : threads) t.join();
    platform::log("two\nparts");
    ASSERT_EQ(childEnd->get_future().get().status, 0);

    auto lines = err.lines();
    ASSERT_EQ(lines.size(), 9u * perWriter + 2);
    std::map<std::string, std::set<int>> seen;
    std::set<int> tids;
    std::smatch m;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line == "parts") continue; // second half of the two-part message
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << "line " << i << ": " << line;
        if (m[5].str() == "two") {
            EXPECT_EQ(lines.at(i + 1), "parts");
            continue;
        }
        std::string writer = m[5].str().substr(0, m[5].str().find(' '));
        int number = std::stoi(m[5].str().substr(writer.size() + 1));
        if (writer != "child") {
            EXPECT_EQ(m[5].str(), writer + " " + std::to_string(number) + " " + std::string(100 + number % 50, '='));
            tids.insert(std::stoi(m[4].str()));
        }
        seen[writer].insert(number);
    }
    ASSERT_EQ(seen.size(), 9u);
    for (const auto& [writer, numbers] : seen) EXPECT_EQ(numbers.size(), static_cast<size_t>(perWriter)) << writer;
    EXPECT_EQ(tids.size(), 8u);
}
