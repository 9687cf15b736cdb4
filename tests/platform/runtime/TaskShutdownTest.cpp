// What becomes of the children of a program when it goes: ended by its own
// Task::terminateAll, by its exit, or by a crash. The program is the
// childowner test program, so that the test process itself stays alive and
// keeps starting children.
#include "platform/runtime/Pipe.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <thread>
#include <unistd.h>

using platform::Task;
using testing_support::TempHome;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct ProcessInfo {
    std::string name;
    char state = '?';
    pid_t group = 0;
};

std::string readStat(const fs::path& procEntry) {
    try {
        std::ifstream in(procEntry / "stat");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return ""; // the process went while it was read
    }
}

std::optional<ProcessInfo> processInfo(const fs::path& procEntry) {
    std::string stat = readStat(procEntry);
    auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    ProcessInfo p;
    p.name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 1));
    pid_t parent = 0;
    rest >> p.state >> parent >> p.group;
    return p;
}

// Zombies have ended: an init that does not reap keeps orphaned ones forever.
bool running(const ProcessInfo& p) { return p.state != 'Z' && p.state != 'X'; }

bool running(pid_t pid) {
    auto p = processInfo("/proc/" + std::to_string(pid));
    return p && running(*p);
}

std::vector<ProcessInfo> runningInGroup(pid_t group) {
    std::vector<ProcessInfo> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        if (entry.path().filename().string().find_first_not_of("0123456789") != std::string::npos) continue;
        auto p = processInfo(entry.path());
        if (p && p->group == group && running(*p)) found.push_back(*p);
    }
    return found;
}

// How long until the condition held, or nothing when it did not within the bound.
std::optional<Clock::duration> timeUntil(const std::function<bool()>& condition, Clock::duration bound,
                                         Clock::time_point from = Clock::now()) {
    while (!condition()) {
        if (Clock::now() - from > bound) return std::nullopt;
        std::this_thread::sleep_for(1ms);
    }
    return Clock::now() - from;
}

// rsync writes into a hidden temporary file and renames it when done.
int finishedCopies(const fs::path& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string()[0] != '.';
    return n;
}

long long milliseconds(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

// The childowner program, talked to through its standard input and output.
class Owner {
public:
    Owner(int children, const std::vector<std::string>& command) {
        Task::Options o{testing_support::testProgram("childowner").string(), {std::to_string(children)}, {}};
        o.arguments.insert(o.arguments.end(), command.begin(), command.end());
        o.stdinFd = input_.readEnd();
        o.stdoutFd = output_.writeEnd();
        pid_ = Task::launch(o, [this](const Task::Termination& t) {
            std::lock_guard lock(mutex_);
            end_ = t;
            ended_.notify_all();
        });
        input_.closeReadEnd();
        output_.closeWriteEnd();
        for (auto line = readLine(); line && *line != "ready"; line = readLine())
            if (line->rfind("child ", 0) == 0) children_.push_back(std::stoi(line->substr(6)));
        if (!children_.empty()) group_ = getpgid(children_[0]);
    }
    // A failed test leaves nothing running behind it, nor a handler to call on a gone object.
    ~Owner() {
        if (pid_ > 0 && !waitForEnd()) {
            kill(pid_, SIGKILL);
            waitForEnd();
        }
        if (group_ > 0 && !runningInGroup(group_).empty()) killpg(group_, SIGKILL);
    }

    pid_t pid() const { return pid_; }
    const std::vector<pid_t>& children() const { return children_; }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(input_.writeEnd(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void closeInput() { input_.closeWriteEnd(); }

    // The next line of output; nothing at its end or after 10 s of silence.
    std::optional<std::string> readLine() {
        for (;;) {
            if (auto newline = buffered_.find('\n'); newline != std::string::npos) {
                std::string line = buffered_.substr(0, newline);
                buffered_.erase(0, newline + 1);
                return line;
            }
            pollfd p{output_.readEnd(), POLLIN, 0};
            char buf[4096];
            ssize_t n = poll(&p, 1, 10000) == 1 ? read(output_.readEnd(), buf, sizeof buf) : 0;
            if (n <= 0) return std::nullopt;
            buffered_.append(buf, static_cast<size_t>(n));
        }
    }

    std::optional<Task::Termination> waitForEnd() {
        std::unique_lock lock(mutex_);
        ended_.wait_for(lock, 10s, [&] { return end_.has_value(); });
        return end_;
    }

private:
    platform::Pipe input_, output_;
    pid_t pid_ = -1;
    std::vector<pid_t> children_;
    pid_t group_ = -1;
    std::string buffered_;
    std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<Task::Termination> end_;
};

// What the owner wrote after its terminateAll.
struct TerminateReport {
    std::chrono::milliseconds took{-1};
    std::map<pid_t, std::vector<std::pair<bool, int>>> ends; // signaled, status per handler call
    std::string after;
};

TerminateReport readTerminateReport(Owner& owner) {
    TerminateReport report;
    while (auto line = owner.readLine()) {
        std::istringstream words(*line);
        std::string word;
        words >> word;
        if (word == "took") {
            long long ms = -1;
            words >> ms;
            report.took = std::chrono::milliseconds(ms);
        } else if (word == "ended") {
            pid_t pid = 0;
            bool signaled = false;
            int status = 0;
            words >> pid >> signaled >> status;
            report.ends[pid].emplace_back(signaled, status);
        } else if (word == "after") {
            report.after = line->substr(6);
        }
    }
    return report;
}

} // namespace

TEST(TaskShutdownTest, TerminateAllEndsEveryChildAndWhatItStarted) {
    struct Case {
        std::string what;
        int children;
        std::string script;
        size_t processesPerChild; // the child and its own children
        int signal;               // what ends the children
        std::chrono::milliseconds least, most;
    };
    const std::vector<Case> cases = {
        {"nothing running", 0, "true", 0, 0, 0ms, 100ms},
        {"children that end on SIGTERM", 10, "sleep 60 & sleep 60; wait", 3, SIGTERM, 0ms, 1500ms},
        {"children that refuse SIGTERM", 2, "trap '' TERM; sleep 60 & sleep 60; wait", 3, SIGKILL, 1900ms, 3500ms},
        {"grandchildren that refuse SIGTERM", 2, "(trap '' TERM; exec sleep 60) & wait", 2, SIGTERM, 1900ms, 3500ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Owner owner(c.children, {"/bin/sh", "-c", c.script});
        ASSERT_EQ(owner.children().size(), static_cast<size_t>(c.children));
        // Group 0 would be the kernel's threads.
        auto inGroup = [group = c.children ? getpgid(owner.children()[0]) : -1] { return runningInGroup(group); };
        for (pid_t child : owner.children())
            EXPECT_EQ(getpgid(child), getpgid(owner.children()[0])) << "one group for all children";
        ASSERT_TRUE(timeUntil([&] { return inGroup().size() == c.children * c.processesPerChild; }, 10s))
            << "the children did not start their own";

        owner.send("terminate");
        TerminateReport report = readTerminateReport(owner);
        EXPECT_TRUE(inGroup().empty()) << "still running when terminateAll returned";
        EXPECT_GE(report.took, c.least);
        EXPECT_LE(report.took, c.most);
        if (c.children == 10)
            std::cout << "[ figures  ] terminateAll with 10 running children took " << report.took.count() << " ms\n";
        EXPECT_EQ(report.ends.size(), static_cast<size_t>(c.children));
        for (pid_t child : owner.children()) {
            ASSERT_EQ(report.ends[child].size(), 1u) << "handler calls for " << child;
            EXPECT_EQ(report.ends[child][0], std::make_pair(true, c.signal));
        }
        EXPECT_EQ(report.after, "-1 127") << "a launch after terminateAll";
        auto end = owner.waitForEnd();
        ASSERT_TRUE(end);
        EXPECT_FALSE(end->signaled);
        EXPECT_EQ(end->status, 0);
    }
}

TEST(TaskShutdownTest, CopiesEndWholeWhenTheProgramGoes) {
    auto bfs = platform::SearchPath::find("bfs");
    auto rsync = platform::SearchPath::find("rsync");
    if (!bfs || !rsync) GTEST_SKIP() << "needs bfs and rsync";
    struct Case {
        std::string ending;
        std::function<void(Owner&)> end;
        bool signaled;
        int status;
    };
    const std::vector<Case> cases = {
        {"killed", [](Owner& o) { kill(o.pid(), SIGKILL); }, true, SIGKILL},
        {"crashed", [](Owner& o) { kill(o.pid(), SIGSEGV); }, true, SIGSEGV},
        {"exits after terminateAll", [](Owner& o) { o.send("terminate"); }, false, 0},
        {"exits without calling terminateAll", [](Owner& o) { o.closeInput(); }, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending);
        TempHome temp;
        const int files = 40;
        for (int i = 0; i < files; ++i)
            temp.writeFile("source/photo" + std::to_string(i) + ".jpg",
                           std::string(200 * 1024, static_cast<char>('a' + i % 26)));
        fs::path destination = temp.makeFolder("archive");
        // One slow rsync per file, as the archive's walks run them.
        Owner owner(1, {*bfs, (temp.path() / "source").string(), "-type", "f", "-exec", *rsync, "--bwlimit=1000",
                        "-a", "{}", destination.string() + "/", ";"});
        ASSERT_EQ(owner.children().size(), 1u);
        const pid_t walk = owner.children()[0];
        // Once a copy is done and the next one under way.
        ASSERT_TRUE(timeUntil(
            [&] {
                auto g = runningInGroup(walk);
                return finishedCopies(destination) > 0 &&
                       std::any_of(g.begin(), g.end(), [](const ProcessInfo& p) { return p.name == "rsync"; });
            },
            10s));

        const auto ending = Clock::now();
        c.end(owner);
        auto walkGone = timeUntil([&] { return !running(walk); }, 3s, ending);
        auto groupGone = timeUntil([&] { return runningInGroup(walk).empty(); }, 5s, ending);
        ASSERT_TRUE(walkGone) << "bfs still runs";
        ASSERT_TRUE(groupGone) << "its rsync still runs";
        std::cout << "[ figures  ] owner " << c.ending << ": bfs gone after " << milliseconds(*walkGone)
                  << " ms, its rsync after " << milliseconds(*groupGone) << " ms\n";

        auto end = owner.waitForEnd();
        ASSERT_TRUE(end);
        EXPECT_EQ(end->signaled, c.signaled);
        EXPECT_EQ(end->status, c.status);
        // A copy is whole or absent: never cut short under its final name, and no unfinished temporary file left.
        int copied = 0;
        for (const auto& e : fs::directory_iterator(destination)) {
            ++copied;
            EXPECT_NE(e.path().filename().string()[0], '.') << "unfinished copy left: " << e.path();
            EXPECT_EQ(testing_support::readFile(e.path()),
                      testing_support::readFile(temp.path() / "source" / e.path().filename()))
                << e.path();
        }
        EXPECT_GT(copied, 0);
        EXPECT_LT(copied, files) << "the walk was not interrupted";
    }
}

TEST(TaskShutdownTest, ExitEndsWhatTheChildrenStartedToo) {
    // The parent-death signal reaches only the children; their own children
    // hear of the exit through the group.
    Owner owner(1, {"/bin/sh", "-c", "sleep 60 & wait"});
    ASSERT_EQ(owner.children().size(), 1u);
    const pid_t group = getpgid(owner.children()[0]);
    ASSERT_TRUE(timeUntil([&] { return runningInGroup(group).size() == 2; }, 10s));
    owner.closeInput();
    auto end = owner.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->status, 0);
    EXPECT_TRUE(runningInGroup(group).empty()) << "left running after the exit";
}
