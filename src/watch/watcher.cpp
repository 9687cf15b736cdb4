#include "watch/watcher.h"

#include "core/CommonHeader.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/RunLoop.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

using platform::FileEventStream;
using platform::logf;

namespace watcher {
namespace {

constexpr std::uint32_t kUserDropped = FileEventStream::UserDropped;
constexpr std::uint32_t kKernelDropped = FileEventStream::KernelDropped;

// Standard output, one line at a time, so the lines stay whole beside the log.
void printLine(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

template <class T>
T setupValue(const platform::UserInfo& setup, const std::string& key, T fallback) {
    auto it = setup.find(key);
    if (it == setup.end()) return fallback;
    const T* v = std::any_cast<T>(&it->second);
    return v ? *v : fallback;
}

// The stream on the thread's loop, started; null (and logged) when it
// could not be created or started.
std::unique_ptr<FileEventStream> startStream(const char* pathBuffer, const StreamSettings& settings,
                                             const StreamContext& context,
                                             const std::shared_ptr<platform::RunLoop>& loop,
                                             const std::shared_ptr<const platform::StreamCancel>& cancel) {
    auto stream = my_FSEventStreamCreate(pathBuffer, settings, context, cancel);
    if (!stream && cancel && cancel->cancelled()) return nullptr; // given up while it was being set up
    if (stream && stream->scheduleWithRunLoop(loop) && stream->start()) return stream;
    logf("Inside doInstallTheWatcherNew => FAILED to create or start the stream for %s", pathBuffer);
    if (stream) stream->invalidate();
    return nullptr;
}

// Delivers pending events without waiting for the latency; 0 for no timer.
platform::RunLoop::Id addFlushTimer(platform::RunLoop& loop, FileEventStream* stream, const StreamSettings& settings) {
    if (settings.flushInterval < 0) return 0;
    const platform::RunLoop::Seconds interval(settings.flushInterval);
    return loop.addTimer(interval, interval, [stream] { timer_callback(stream); });
}

} // namespace

StreamSettings streamSettings() { return StreamSettings{}; }

bool pathFitsBuffer(const std::string& path) { return path.size() < kPathBufferSize; }

std::unique_ptr<FileEventStream> my_FSEventStreamCreate(const char* path, const StreamSettings& settings,
                                                        const StreamContext& context,
                                                        std::shared_ptr<const platform::StreamCancel> cancel) {
    if (!path || !*path) return nullptr;
    if (settings.verbose) logf("my_FSEventStreamCreate paths = (\"%s\")", path);
    // The callback hands the stream on; it learns the stream's address once
    // create() has returned, before any event can be delivered.
    auto self = std::make_shared<FileEventStream*>(nullptr);
    auto stream = FileEventStream::create(path, settings.latency,
                                          [self, context](const std::vector<FileEventStream::Event>& events) {
                                              fsevents_callback(*self, context, events);
                                          },
                                          std::move(cancel), settings.flags);
    *self = stream.get();
    if (settings.verbose && stream) logf("my_FSEventStreamCreate stream on %s", stream->path().c_str());
    return stream;
}

void timer_callback(FileEventStream* stream) {
    if (stream) stream->flushAsync();
}

void fsevents_callback(FileEventStream* stream, const StreamContext& context,
                       const std::vector<FileEventStream::Event>& events) {
    (void)stream;
    const char* watched = context.pathBuffer ? context.pathBuffer : "(null)";
    logf("fsevents_callback...watched path = %s", watched);
    if (events.empty()) return;
    std::size_t files = 0;
    for (const auto& event : events) {
        if (event.flags & kUserDropped) {
            printLine("BAD NEWS! We dropped events.");
            printLine("Forcing a full rescan.");
        } else if (event.flags & kKernelDropped) {
            printLine("REALLY BAD NEWS! The kernel dropped events.");
            printLine("Forcing a full rescan.");
        }
        // A burst names a thousand photos; the log gets the folders and a count.
        if (event.flags & FileEventStream::ItemIsFile)
            ++files;
        else
            logf("fsevents_callback...Found an event in %s", event.path.c_str());
    }
    if (files > 0) logf("fsevents_callback...%zu file(s) named", files);
    // The owner walks the whole watched folder when events were dropped.
    if (context.owner && context.pathBuffer) context.owner->streamDidReport(std::string(context.pathBuffer), events);
}

void doInstallTheWatcherNew(const platform::UserInfo& setup, StreamOwner& owner) {
    const std::string pathToWatch = setupValue<std::string>(setup, "pathToWatch", "");
    const std::string watchPath = setupValue<std::string>(setup, kUserInfoWatchPath, "");
    const std::int32_t index = setupValue<std::int32_t>(setup, kUserInfoIndex, 0);
    const auto cancel = setupValue<std::shared_ptr<platform::StreamCancel>>(setup, "cancel", nullptr);
    logf("Inside doInstallTheWatcherNew => pathToWatch = %s, watchPath = %s, index = %d", pathToWatch.c_str(),
         watchPath.c_str(), index);

    const StreamSettings settings = streamSettings();
    char pathBuffer[kPathBufferSize];
    std::memset(pathBuffer, 0, sizeof pathBuffer);
    if (!pathFitsBuffer(pathToWatch)) return; // refused by the thread's entry check already
    std::memcpy(pathBuffer, pathToWatch.data(), pathToWatch.size());

    // The stream's callback only runs inside loop->run() below, on this
    // thread, while the stream, the buffer and the owner are alive.
    auto loop = platform::RunLoop::current();
    auto stream = startStream(pathBuffer, settings, StreamContext{pathBuffer, &owner}, loop, cancel);
    if (!stream) return;
    const platform::RunLoop::Id timer = addFlushTimer(*loop, stream.get(), settings);

    if (owner.streamDidStart({watchPath, stream.get(), loop, timer, cancel})) {
        logf("Inside doInstallTheWatcherNew => WatcherDidStart sent for index %d", index);
        loop->run();
        logf("Inside doInstallTheWatcherNew => run loop done for index %d", index);
    } else {
        // Overtaken by a later stop or start while this thread was starting.
        logf("Inside doInstallTheWatcherNew => index %d no longer wants this stream", index);
    }
    if (timer) loop->removeTimer(timer);
    stream->stop();
    stream->invalidate();
}

void runStreamThread(const platform::UserInfo& setup, StreamOwner& owner) {
    const std::string path = setupValue<std::string>(setup, "pathToWatch", "");
    std::error_code ec;
    // A path too long for the thread's path buffer is refused like a missing folder.
    if (!pathFitsBuffer(path) || !std::filesystem::is_directory(path, ec)) {
        logf("Inside WatcherNSObject => doSetupWatchFolderInThreadNew... FAILED to install the watcher - folder does "
             "NOT exists?");
        return;
    }
    doInstallTheWatcherNew(setup, owner);
}

} // namespace watcher
