#include "platform/runtime/Task.h"

#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using platform::Task;
using testing_support::StderrCapture;
using testing_support::TempHome;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

extern char** environ;

namespace {

std::string spawnee() { return testing_support::testProgram("spawnee").string(); }

Task::Options spawneeWith(std::vector<std::string> arguments) {
    Task::Options o;
    o.path = spawnee();
    o.arguments = std::move(arguments);
    return o;
}

std::vector<std::string> splitAtNul(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = s.find('\0', start)) != std::string::npos; start = end + 1)
        parts.push_back(s.substr(start, end - start));
    return parts;
}

int openDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// What one handler call saw.
struct Record {
    Task::Termination termination;
    std::thread::id thread;
    bool childGone; // no /proc entry left when the handler ran
};

// Collects the handler calls of many launches, from whatever thread they arrive on.
class Terminations {
public:
    Task::TerminationHandler handler() {
        return [this](const Task::Termination& t) {
            bool gone = t.pid < 0 || !fs::exists("/proc/" + std::to_string(t.pid));
            std::lock_guard lock(mutex_);
            records_.push_back({t, std::this_thread::get_id(), gone});
            changed_.notify_all();
        };
    }
    bool waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return records_.size() >= count; });
    }
    std::vector<Record> records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Record> records_;
};

} // namespace

TEST(TaskTest, ChildGetsExactlyTheArgumentVector) {
    std::vector<std::string> args = {"args",  "two words", "\"quoted\" 'single'", "{}",     ";",   "-name",
                                     "--",    "*.jpg",     "line\nbreak",          "Grüße ✓", "",    "$HOME",
                                     "a\\b",  "-lptogRq"};
    Task::Output out = Task::runCapturingOutput(spawneeWith(args));
    ASSERT_TRUE(out.termination.started);
    EXPECT_EQ(out.termination.status, 0);
    std::vector<std::string> expected = {spawnee()};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(splitAtNul(out.standardOutput), expected);
}

TEST(TaskTest, WorkingDirectoryIsSetOnlyWhenGiven) {
    TempHome temp;
    fs::path folder = temp.makeFolder("a folder/with ünïcode");
    Task::Options o = spawneeWith({"cwd"});
    o.workingDirectory = folder.string();
    EXPECT_EQ(Task::runCapturingOutput(o).standardOutput, fs::canonical(folder).string());

    EXPECT_EQ(Task::runCapturingOutput(spawneeWith({"cwd"})).standardOutput, fs::current_path().string());
}

TEST(TaskTest, HandlerRunsOnceAfterTheChildEndedOffTheLaunchingThread) {
    Terminations done;
    std::map<pid_t, int> expectedStatus;
    const int count = 30; // tens of children at once
    for (int i = 0; i < count; ++i) {
        bool sleeper = i % 2 == 0;
        auto o = sleeper ? spawneeWith({"sleep", "0.3"}) : spawneeWith({"exit", std::to_string(i % 7)});
        pid_t pid = Task::launch(o, done.handler());
        ASSERT_GT(pid, 0);
        expectedStatus[pid] = sleeper ? 0 : i % 7;
    }
    ASSERT_TRUE(done.waitFor(count));
    std::this_thread::sleep_for(300ms); // room for a second, wrong call to show up
    auto records = done.records();
    ASSERT_EQ(records.size(), static_cast<size_t>(count));
    std::set<pid_t> seen;
    for (const auto& r : records) {
        EXPECT_TRUE(seen.insert(r.termination.pid).second) << "handler ran twice for " << r.termination.pid;
        ASSERT_TRUE(expectedStatus.count(r.termination.pid));
        EXPECT_EQ(r.termination.status, expectedStatus[r.termination.pid]);
        EXPECT_TRUE(r.termination.started);
        EXPECT_FALSE(r.termination.signaled);
        EXPECT_TRUE(r.childGone);
        EXPECT_NE(r.thread, std::this_thread::get_id());
    }
}

TEST(TaskTest, EndBySignalReportsTheSignal) {
    Task::Output out = Task::runCapturingOutput(spawneeWith({"signal", std::to_string(SIGTERM)}));
    EXPECT_TRUE(out.termination.signaled);
    EXPECT_EQ(out.termination.status, SIGTERM);
}

TEST(TaskTest, LaunchDoesNotWaitForTheChild) {
    Terminations done;
    auto before = std::chrono::steady_clock::now();
    pid_t pid = Task::launch(spawneeWith({"sleep", "2"}), done.handler());
    auto took = std::chrono::steady_clock::now() - before;
    ASSERT_GT(pid, 0);
    EXPECT_LT(took, 1s);
    EXPECT_TRUE(done.records().empty());
    kill(pid, SIGKILL); // no need to sit out the two seconds
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(done.records()[0].termination.signaled);
    EXPECT_EQ(done.records()[0].termination.status, SIGKILL);
}

TEST(TaskTest, ProgramThatCannotStartIsLoggedAndReportedWith127) {
    TempHome temp;
    fs::path plain = temp.writeFile("not executable", "#!/bin/sh\n");
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    struct Case {
        std::string path;
        std::optional<std::string> workingDirectory;
        std::string reason;
    };
    std::vector<Case> cases = {
        {(temp.path() / "missing tool").string(), std::nullopt, "No such file or directory"},
        {plain.string(), std::nullopt, "Permission denied"},
        {temp.path().string(), std::nullopt, "Permission denied"},
        {spawnee(), (temp.path() / "no such folder").string(), "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        StderrCapture err;
        Terminations done;
        Task::Options o{c.path, {"x"}, c.workingDirectory};
        EXPECT_EQ(Task::launch(o, done.handler()), -1);
        ASSERT_TRUE(done.waitFor(1));
        Record r = done.records()[0];
        EXPECT_EQ(r.termination.status, 127);
        EXPECT_FALSE(r.termination.started);
        EXPECT_NE(r.thread, std::this_thread::get_id());
        EXPECT_TRUE(err.contains(c.path)) << err.text();
        EXPECT_TRUE(err.contains(c.reason)) << err.text();

        Task::Output out = Task::runCapturingOutput(o);
        EXPECT_EQ(out.termination.status, 127);
        EXPECT_FALSE(out.termination.started);
        EXPECT_TRUE(out.standardOutput.empty());
    }
}

TEST(TaskTest, CapturedOutputComesBackWholeAtFourMebibytes) {
    const size_t size = 4 * 1024 * 1024;
    Task::Output out = Task::runCapturingOutput(spawneeWith({"bytes", std::to_string(size)}));
    EXPECT_EQ(out.termination.status, 0);
    ASSERT_EQ(out.standardOutput.size(), size);
    for (size_t i = 0; i < size; i += 4099)
        ASSERT_EQ(out.standardOutput[i], static_cast<char>('a' + i % 26)) << "at " << i;
}

TEST(TaskTest, GivenDescriptorsBecomeStandardInputAndOutput) {
    TempHome temp;
    fs::path input = temp.writeFile("in.txt", "first line\nsecond line\n");
    fs::path output = temp.path() / "out.txt";
    int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Task::Options o = spawneeWith({"cat"});
    o.stdinFd = in;
    o.stdoutFd = out;
    Terminations done;
    ASSERT_GT(Task::launch(o, done.handler()), 0);
    close(in);
    close(out);
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_EQ(testing_support::readFile(output), "first line\nsecond line\n");
}

TEST(TaskTest, ChildInheritsNoStrayDescriptors) {
    // Opened without close-on-exec, as careless code elsewhere might.
    int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    // Another capture in flight holds a pipe open in this process meanwhile.
    std::thread other([] { Task::runCapturingOutput(spawneeWith({"sleep", "0.3"})); });
    Task::Output out = Task::runCapturingOutput(spawneeWith({"fds"}));
    other.join();
    close(stray);
    EXPECT_EQ(out.termination.status, 0);
    EXPECT_EQ(out.standardOutput, "");
}

TEST(TaskTest, ManyLaunchesLeakNoDescriptors) {
    StderrCapture err; // the failed starts below log
    int before = openDescriptorCount();
    Terminations done;
    for (int i = 0; i < 100; ++i) Task::launch(spawneeWith({"exit", "0"}), done.handler());
    for (int i = 0; i < 5; ++i) Task::launch(Task::Options{"/nonexistent/tool", {}, {}}, done.handler());
    for (int i = 0; i < 20; ++i) Task::runCapturingOutput(spawneeWith({"bytes", "1000"}));
    ASSERT_TRUE(done.waitFor(105));
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(TaskTest, ChildrenStartedElsewhereAreLeftForTheirOwner) {
    std::string path = spawnee();
    char* argv[] = {path.data(), const_cast<char*>("exit"), const_cast<char*>("7"), nullptr};
    pid_t foreign;
    ASSERT_EQ(posix_spawn(&foreign, path.c_str(), nullptr, nullptr, argv, environ), 0);
    Terminations done;
    for (int i = 0; i < 10; ++i) Task::launch(spawneeWith({"exit", "0"}), done.handler());
    ASSERT_TRUE(done.waitFor(10));
    int status = 0;
    ASSERT_EQ(waitpid(foreign, &status, 0), foreign);
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(TaskTest, ChildStartsWithDefaultSignalHandling) {
    auto oldPipe = signal(SIGPIPE, SIG_IGN);
    sigset_t usr1, old;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &old);
    Task::Output out = Task::runCapturingOutput(spawneeWith({"signals"}));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    signal(SIGPIPE, oldPipe);
    EXPECT_EQ(out.standardOutput, "ignored:\nblocked:\n");
}

TEST(TaskTest, HandlerMayLaunchTheNextTask) {
    Terminations done;
    auto second = done.handler();
    Task::launch(spawneeWith({"exit", "1"}), [&, second](const Task::Termination& t) {
        second(t);
        Task::launch(spawneeWith({"exit", "2"}), second);
    });
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_EQ(done.records()[1].termination.status, 2);
}

TEST(TaskTest, HandlerThatThrowsIsLoggedAndTheProgramLivesOn) {
    StderrCapture err;
    Terminations done;
    auto record = done.handler();
    Task::launch(spawneeWith({"exit", "0"}), [record](const Task::Termination& t) {
        record(t);
        throw std::runtime_error("handler broke");
    });
    ASSERT_TRUE(done.waitFor(1));
    for (int i = 0; i < 1000 && !err.contains("handler broke"); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(err.contains("handler broke")) << err.text();
}
