#include "engines/RsyncBatches.h"

#include "platform/runtime/Log.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/ToolLauncher.h"

#include "platform/desktop/FileAttributes.h"
#include "platform/runtime/MemoryFile.h"

#include <algorithm>
#include <future>
#include <memory>

using platform::logf;
using platform::Task;

namespace {

// What one argument or environment string takes of the kernel's limit.
std::size_t argumentCost(const std::string& text) { return text.size() + 1 + sizeof(char*); }

bool succeeded(const Task::Termination& end) { return end.started && !end.signaled && end.status == 0; }

// rsync's exit codes for a run in which only some files failed or vanished.
bool someFilesFailed(const Task::Termination& end) {
    return end.started && !end.signaled && (end.status == 23 || end.status == 24);
}

const Task::Termination kNoRunNeeded{.pid = -1, .status = 0, .signaled = false, .started = true};

// Runs the child; its end comes through the future.
template <class Launch>
std::future<Task::Termination> started(Launch launch) {
    auto ended = std::make_shared<std::promise<Task::Termination>>();
    auto end = ended->get_future();
    launch([ended](const Task::Termination& t) { ended->set_value(t); });
    return end;
}

// The list as rsync's standard input, written whole beforehand.
std::optional<platform::MemoryFile> listInMemory(const std::vector<std::string>& names, std::string* error) {
    std::string list;
    for (const auto& name : names) list.append(name).push_back('\0');
    return platform::MemoryFile::withContents(list, error);
}

} // namespace

RsyncBatches::RsyncBatches(std::string rsync, std::string source, std::string destination, platform::Date start,
                           Limits limits)
    : rsync_(std::move(rsync)), source_(std::move(source)), destination_(std::move(destination)),
      options_(SynchronizationPolicy::copyOptions(destination_, start)),
      listArguments_(SynchronizationPolicy::copyArguments(destination_, start)), limits_(limits), budget_(budget()) {}

std::size_t RsyncBatches::budget() const {
    if (limits_.argumentBytes > 0) return limits_.argumentBytes;
    // Well below the limit: the environment may grow before the start.
    const std::size_t share = Task::argumentSpace() / 4 * std::min<std::size_t>(limits_.argumentQuarters, 3);
    std::size_t fixed = Task::environmentBytes() + argumentCost(rsync_) + argumentCost(destination_) + sizeof(char*);
    for (const auto& option : options_) fixed += argumentCost(option);
    return share > fixed ? share - fixed : 0;
}

void RsyncBatches::add(std::string name) {
    if (stopped_) return;
    anyName_ = true;
    if (progress_) progress_->addTotal(1);
    if (name.size() + 1 > limits_.longestArgument) {
        listed_.push_back(std::move(name));
        return;
    }
    const std::size_t cost = argumentCost(name);
    if (!batch_.empty() && batchBytes_ + cost > budget_) startBatch();
    if (stopped_) return;
    batch_.push_back(std::move(name));
    batchBytes_ += cost;
}

void RsyncBatches::finish() {
    if (!stopped_ && !batch_.empty()) startBatch();
    awaitRun();
    const bool destinationMissing = !platform::FileAttributes::following(destination_);
    if (!stopped_ && (!listed_.empty() || (!anyName_ && destinationMissing))) runList();
}

void RsyncBatches::startBatch() {
    awaitRun();
    if (stopped_) return;
    std::vector<std::string> arguments = options_;
    const std::string first = batch_.front();
    const size_t count = batch_.size();
    arguments.insert(arguments.end(), std::make_move_iterator(batch_.begin()), std::make_move_iterator(batch_.end()));
    arguments.push_back(SynchronizationPolicy::asFolder(destination_));
    batch_.clear();
    batchBytes_ = 0;

    std::string shown;
    for (const auto& option : options_) shown += option + " ";
    // The names themselves would make a line of up to a quarter megabyte.
    logf("starting task %s %s[%zu names from %s] %s", rsync_.c_str(), shown.c_str(), count, first.c_str(),
         arguments.back().c_str());
    running_ = started([&](Task::TerminationHandler handler) {
        pid_t pid = Task::launch(
            {.path = rsync_, .arguments = arguments, .workingDirectory = source_, .stdoutFd = outputFd_},
            [handler = std::move(handler), progress = runsTellDone_ ? progress_ : nullptr,
             count](const Task::Termination& end) {
                if (progress) progress->addDone(static_cast<std::int64_t>(count));
                handler(end);
            });
        if (pid > 0) logf("started task %s [%d]", rsync_.c_str(), static_cast<int>(pid));
    });
}

void RsyncBatches::awaitRun() {
    if (!running_) return;
    const Task::Termination end = running_->get();
    running_.reset();
    ended(end);
}

void RsyncBatches::runList() {
    std::string why;
    auto list = listInMemory(listed_, &why);
    const auto count = static_cast<std::int64_t>(listed_.size());
    listed_.clear();
    if (!list) {
        logf("no file list for rsync in %s: %s", source_.c_str(), why.c_str());
        return ended(Task::Termination{.pid = -1, .status = 127, .signaled = false, .started = false});
    }
    ended(started([&](Task::TerminationHandler handler) {
              ToolLauncher::launchToolAtPath(rsync_, listArguments_, source_, list->fd(), outputFd_,
                                             std::move(handler));
          }).get());
    if (progress_ && runsTellDone_) progress_->addDone(count);
}

void RsyncBatches::ended(const Task::Termination& end) {
    ++runs_;
    logf("%s [%d] did complete with exit status %d", rsync_.c_str(), static_cast<int>(end.pid), end.status);
    if (succeeded(end)) return;
    if (!failure_) failure_ = end;
    if (someFilesFailed(end)) return;
    stopped_ = true;
    logf("rsync for %s ended with status %d: nothing more is copied in this pass", source_.c_str(), end.status);
}

Task::Termination RsyncBatches::outcome() const { return failure_.value_or(kNoRunNeeded); }

bool RsyncBatches::copiesComplete() const { return !failure_ || (!stopped_ && someFilesFailed(*failure_)); }
