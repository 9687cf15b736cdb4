#include "platform/runtime/Log.h"

#include "platform/runtime/Task.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <future>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <thread>
#include <unistd.h>

using testing_support::StderrCapture;

namespace {

struct Line {
    std::string stamp, name;
    int pid = 0, tid = 0;
    std::string message;
};

// Only the head goes through the regex: std::regex recurses per character
// and would overflow the stack on a long message.
std::optional<Line> parse(const std::string& text) {
    static const std::regex head(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) ([^\[]+)\[(\d+):(\d+)\])");
    size_t end = text.find("] ");
    std::smatch m;
    std::string prefix = text.substr(0, end == std::string::npos ? 0 : end + 1);
    if (!std::regex_match(prefix, m, head)) return std::nullopt;
    return Line{m[1], m[2], std::stoi(m[3]), std::stoi(m[4]), text.substr(end + 2)};
}

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
    auto line = parse(lines[0]);
    ASSERT_TRUE(line) << lines[0];
    // The stamp has fixed width fields, so text order is time order.
    EXPECT_LE(before, line->stamp);
    EXPECT_GE(after, line->stamp);
    EXPECT_EQ(line->name, "Tolv-Archiver");
    EXPECT_EQ(line->pid, getpid());
    EXPECT_EQ(line->tid, gettid());
    EXPECT_EQ(line->message, "hello there");
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
    std::vector<std::string> messages;
    for (const auto& l : lines) messages.push_back(parse(l).value_or(Line{}).message);
    EXPECT_EQ(messages[0], "/usr/bin/find [4242] did complete with exit status 1");
    EXPECT_EQ(messages[1], "long: " + longText + ".");
    EXPECT_EQ(messages[2], "percent % and nothing else");
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
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "parts") continue; // second half of the two-part message
        auto line = parse(lines[i]);
        ASSERT_TRUE(line) << "line " << i << ": " << lines[i];
        if (line->message == "two") {
            EXPECT_EQ(lines.at(i + 1), "parts");
            continue;
        }
        std::string writer = line->message.substr(0, line->message.find(' '));
        int number = std::stoi(line->message.substr(writer.size() + 1));
        if (writer == "child") {
            EXPECT_NE(line->pid, getpid());
        } else {
            EXPECT_EQ(line->message, writer + " " + std::to_string(number) + " " + std::string(100 + number % 50, '='));
            tids.insert(line->tid);
        }
        seen[writer].insert(number);
    }
    ASSERT_EQ(seen.size(), 9u);
    for (const auto& [writer, numbers] : seen) EXPECT_EQ(numbers.size(), static_cast<size_t>(perWriter)) << writer;
    EXPECT_EQ(tids.size(), 8u);
}
