#include "platform/runtime/Task.h"

#include "platform/runtime/Pipe.h"

#include "support/StderrCapture.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
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

// A child that runs until the test lets it go, by closing its input.
class HeldChild {
public:
    HeldChild(Terminations& done, Task::Options options) : input_(std::make_unique<platform::Pipe>()) {
        options.stdinFd = input_->readEnd();
        pid_ = Task::launch(options, done.handler());
        input_->closeReadEnd();
    }
    explicit HeldChild(Terminations& done) : HeldChild(done, spawneeWith({"cat"})) {}
    pid_t pid() const { return pid_; }
    void send(const std::string& text) {
        ASSERT_EQ(write(input_->writeEnd(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void release() { input_->closeWriteEnd(); }

private:
    std::unique_ptr<platform::Pipe> input_;
    pid_t pid_;
};

bool waitUntil(const std::function<bool()>& condition) { return testing_support::waitUntil(condition, 5s, 1ms); }

// Field 5 of /proc/<pid>/stat in a child's output, after the command name.
pid_t groupInStat(const std::string& stat) {
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state;
    pid_t parent = 0, group = 0;
    rest >> state >> parent >> group;
    return group;
}

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

    const fs::path errors = temp.path() / "err.txt";
    int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Task::Output said = Task::runCapturingOutput({"/bin/sh", {"-c", "echo out; echo oops >&2"}, std::nullopt, -1, -1, err});
    close(err);
    EXPECT_EQ(said.standardOutput, "out\n");
    EXPECT_EQ(testing_support::readFile(errors), "oops\n");
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

TEST(TaskTest, ChildrenShareOneGroupWhileOneOfThemRuns) {
    Terminations done;
    HeldChild first(done), second(done);
    ASSERT_GT(first.pid(), 0);
    EXPECT_EQ(getpgid(first.pid()), first.pid()) << "the first child starts the group";
    EXPECT_NE(getpgid(first.pid()), getpgrp()) << "outside the application's own group";
    EXPECT_EQ(getpgid(second.pid()), first.pid());

    first.release();
    ASSERT_TRUE(done.waitFor(1));
    HeldChild third(done);
    EXPECT_EQ(getpgid(third.pid()), first.pid()) << "the second child still holds the group";

    second.release();
    third.release();
    ASSERT_TRUE(done.waitFor(3));
    HeldChild fourth(done);
    EXPECT_EQ(getpgid(fourth.pid()), fourth.pid()) << "no child of the old group is left: a new one";
    fourth.release();
    ASSERT_TRUE(done.waitFor(4));
}

TEST(TaskTest, GrandchildrenAreInTheGroupOfTheChildren) {
    // The shell forks for the first command, as bfs does for -exec.
    Task::Output out = Task::runCapturingOutput(Task::Options{"/bin/sh", {"-c", "cat /proc/self/stat; true"}, {}});
    ASSERT_EQ(out.termination.status, 0);
    EXPECT_EQ(groupInStat(out.standardOutput), out.termination.pid);
}

TEST(TaskTest, GroupWithNoProcessLeftIsNotJoined) {
    Terminations done;
    HeldChild first(done);
    // Put into the first child's group, it leaves it for one of its own when told.
    const std::string leaverPath = testing_support::testProgram("ownprocessgroup").string();
    HeldChild leaver(done, Task::Options{leaverPath, {spawnee(), "cat"}, {}});
    ASSERT_EQ(getpgid(leaver.pid()), first.pid());
    leaver.send("leave\n");
    ASSERT_TRUE(waitUntil([&] { return getpgid(leaver.pid()) == leaver.pid(); }));
    first.release();
    ASSERT_TRUE(done.waitFor(1));

    // The leaver still counts as a member of the emptied group.
    HeldChild next(done);
    ASSERT_GT(next.pid(), 0);
    EXPECT_EQ(getpgid(next.pid()), next.pid());
    HeldChild after(done);
    EXPECT_EQ(getpgid(after.pid()), next.pid()) << "the group the child really went to is the one joined";

    for (HeldChild* c : {&leaver, &next, &after}) c->release();
    ASSERT_TRUE(done.waitFor(4));
}

TEST(TaskTest, ChildOutlivesTheThreadThatLaunchedIt) {
    // Children are asked to get SIGKILL when their parent goes; had the
    // launching thread counted as that parent, SIGKILL, not the test's
    // SIGTERM, would have ended them.
    using Launcher = std::function<void(Terminations&, pid_t& child, pid_t& thread)>;
    const std::vector<std::pair<std::string, Launcher>> launchers = {
        {"a thread that ends",
         [](Terminations& done, pid_t& child, pid_t& thread) {
             std::thread([&] {
                 thread = gettid();
                 child = Task::launch(spawneeWith({"sleep", "60"}), done.handler());
             }).join();
         }},
        {"a termination handler, on its reaper thread",
         [](Terminations& done, pid_t& child, pid_t& thread) {
             Terminations first;
             auto record = first.handler();
             Task::launch(spawneeWith({"exit", "0"}), [&, record](const Task::Termination& t) {
                 thread = gettid();
                 child = Task::launch(spawneeWith({"sleep", "60"}), done.handler());
                 record(t);
             });
             ASSERT_TRUE(first.waitFor(1));
         }},
    };
    for (const auto& [name, launch] : launchers) {
        SCOPED_TRACE(name);
        Terminations done;
        pid_t child = -1, thread = -1;
        launch(done, child, thread);
        ASSERT_GT(child, 0);
        fs::path task = "/proc/self/task/" + std::to_string(thread);
        ASSERT_TRUE(waitUntil([&] { return !fs::exists(task); })) << "the launching thread did not end";
        ASSERT_TRUE(fs::exists("/proc/" + std::to_string(child))) << "the child ended with the thread";
        kill(child, SIGTERM);
        ASSERT_TRUE(done.waitFor(1));
        EXPECT_TRUE(done.records()[0].termination.signaled);
        EXPECT_EQ(done.records()[0].termination.status, SIGTERM);
    }
}

TEST(TaskTest, StartsWithTheStandardStreamsClosed) {
    // A program started with closed standard streams hands out 0 and 1 for
    // new descriptors; the given ones must still land there, and a failed
    // start must still be told.
    TempHome temp;
    struct Case {
        std::string path;
        pid_t expectedPid; // 0: any started child
        std::string output;
    };
    std::vector<Case> cases = {{spawnee(), 0, spawnee() + '\0' + "args" + '\0'},
                               {(temp.path() / "missing tool").string(), -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        StderrCapture err;
        platform::Pipe collected;
        Terminations done;
        int savedIn = dup(STDIN_FILENO), savedOut = dup(STDOUT_FILENO);
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        pid_t pid = Task::launch(Task::Options{c.path, {"args"}, {}, -1, collected.writeEnd()}, done.handler());
        dup2(savedIn, STDIN_FILENO);
        dup2(savedOut, STDOUT_FILENO);
        close(savedIn);
        close(savedOut);
        collected.closeWriteEnd();
        ASSERT_TRUE(done.waitFor(1));
        if (c.expectedPid < 0) EXPECT_EQ(pid, -1);
        else EXPECT_GT(pid, 0);
        EXPECT_EQ(done.records()[0].termination.started, c.expectedPid == 0);
        std::string got;
        char buf[256];
        for (ssize_t n; (n = read(collected.readEnd(), buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
        EXPECT_EQ(got, c.output);
    }
}
