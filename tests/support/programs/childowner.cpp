// A parent for tests of what becomes of its children when it goes.
//   childowner COUNT PROGRAM [ARGUMENTS...]
// Starts COUNT copies of PROGRAM through platform::Task, each from a thread
// that ends right after the launch (as the application's scan and reaper
// threads do), writes "child PID" for each and then "ready". Then it reads
// its standard input:
//   a line "terminate"  calls Task::terminateAll and writes "took MS", one
//                       line "ended PID SIGNALED STATUS" per handler call,
//                       and "after PID STATUS" for a launch tried afterwards,
//                       then returns from main
//   the end of input    returns from main without calling anything
// A test may also kill it meanwhile; it leaves no core file behind.
#include "platform/runtime/Task.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using platform::Task;

namespace {

// Handler calls, from the reaper threads.
class Ends {
public:
    Task::TerminationHandler handler() {
        return [this](const Task::Termination& t) {
            std::lock_guard lock(mutex_);
            ends_.push_back(t);
            changed_.notify_all();
        };
    }
    std::vector<Task::Termination> waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ends_.size() >= count; });
        return ends_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Task::Termination> ends_;
};

pid_t launchFromPassingThread(const Task::Options& options, Ends& ends) {
    pid_t pid = -1;
    std::thread([&] { pid = Task::launch(options, ends.handler()); }).join();
    return pid;
}

void terminateAndReport(Ends& ends, size_t count, const Task::Options& options) {
    auto before = std::chrono::steady_clock::now();
    Task::terminateAll();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    std::cout << "took " << took.count() << "\n" << std::flush;
    for (const auto& t : ends.waitFor(count))
        std::cout << "ended " << t.pid << " " << t.signaled << " " << t.status << "\n";
    Ends& late = *new Ends;
    pid_t pid = Task::launch(options, late.handler());
    std::cout << "after " << pid << " " << late.waitFor(1).at(0).status << "\n" << std::flush;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const size_t count = std::strtoul(argv[1], nullptr, 10);
    Task::Options options{argv[2], std::vector<std::string>(argv + 3, argv + argc), std::nullopt};
    // Never destroyed: handlers still run during exit, when terminateAll runs from atexit.
    Ends& ends = *new Ends;
    for (size_t i = 0; i < count; ++i) std::cout << "child " << launchFromPassingThread(options, ends) << "\n";
    std::cout << "ready\n" << std::flush;
    std::string command;
    if (std::getline(std::cin, command) && command == "terminate") terminateAndReport(ends, count, options);
    return 0;
}
