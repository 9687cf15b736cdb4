#include "watch/watcher.h"

#include "core/CommonHeader.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/RunLoop.h"
#include "watch/WatcherNSObject.h"

#include <cstdio>
#include <cstring>
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

} // namespace

StreamSettings streamSettings() { return StreamSettings{}; }

bool pathFitsBuffer(const std::string& path) { return path.size() < kPathBufferSize; }

std::unique_ptr<FileEventStream> my_FSEventStreamCreate(const char* path, const StreamSettings& settings,
                                                        const char* pathBuffer) {
    if (!path || !*path) return nullptr;
    if (settings.verbose) logf("my_FSEventStreamCreate paths = (\"%s\")", path);
    // The callback hands the stream on; it learns the stream's address once
    // create() has returned, before any event can be delivered.
    auto self = std::make_shared<FileEventStream*>(nullptr);
    auto stream = FileEventStream::create(path, settings.latency,
                                          [self, pathBuffer](const std::vector<FileEventStream::Event>& events) {
                                              fsevents_callback(*self, pathBuffer, events);
                                          });
    *self = stream.get();
    if (settings.verbose && stream) logf("my_FSEventStreamCreate stream on %s", stream->path().c_str());
    return stream;
}

void timer_callback(FileEventStream* stream) {
    if (stream) stream->flushAsync();
}

void fsevents_callback(FileEventStream* stream, const char* pathBuffer,
                       const std::vector<FileEventStream::Event>& events) {
    (void)stream;
    logf("fsevents_callback...watched path = %s", pathBuffer ? pathBuffer : "(null)");
    if (events.empty()) return;
    for (const auto& event : events) {
        if (event.flags & kUserDropped) {
            printLine("BAD NEWS! We dropped events.");
            printLine("Forcing a full rescan.");
        } else if (event.flags & kKernelDropped) {
            printLine("REALLY BAD NEWS! The kernel dropped events.");
            printLine("Forcing a full rescan.");
        }
        logf("fsevents_callback...Found an event in %s", event.path.c_str());
        // Every event names the watched folder, so the pass covers all of it.
        platform::NotificationCenter::defaultCenter().post(
            kWatcherItemChanged, nullptr, platform::UserInfo{{kUserInfoWatchPath, std::string(pathBuffer)}});
    }
}

void doInstallTheWatcherNew(const platform::UserInfo& setup, const std::shared_ptr<WatcherNSObject>& owner) {
    const std::string pathToWatch = setupValue<std::string>(setup, "pathToWatch", "");
    const std::string watchPath = setupValue<std::string>(setup, kUserInfoWatchPath, "");
    const std::int32_t index = setupValue<std::int32_t>(setup, kUserInfoIndex, 0);
    const std::uint64_t generation = setupValue<std::uint64_t>(setup, "generation", 0);
    logf("Inside doInstallTheWatcherNew => pathToWatch = %s, watchPath = %s, index = %d", pathToWatch.c_str(),
         watchPath.c_str(), index);

    const StreamSettings settings = streamSettings();
    char pathBuffer[kPathBufferSize];
    std::memset(pathBuffer, 0, sizeof pathBuffer);
    if (!pathFitsBuffer(pathToWatch)) return; // refused by the thread's entry check already
    std::memcpy(pathBuffer, pathToWatch.data(), pathToWatch.size());

    // The stream's callback only runs inside loop->run() below, on this
    // thread, while the stream and the buffer are alive.
    auto stream = my_FSEventStreamCreate(pathBuffer, settings, pathBuffer);
    auto loop = platform::RunLoop::current();
    bool started = stream && stream->scheduleWithRunLoop(loop) && stream->start();
    if (!started) {
        logf("Inside doInstallTheWatcherNew => FAILED to create or start the stream for %s", pathBuffer);
        if (stream) stream->invalidate();
        return;
    }

    platform::RunLoop::Id timer = 0;
    if (settings.flushInterval >= 0) {
        timer = loop->addTimer(platform::RunLoop::Seconds(settings.flushInterval),
                               platform::RunLoop::Seconds(settings.flushInterval),
                               [s = stream.get()] { timer_callback(s); });
    }

    {
        auto temporary = WatcherNSObject::createTemporary();
        temporary->set_index(static_cast<std::int16_t>(index));
        temporary->setStreamHandles({watchPath, stream.get(), loop, timer, generation});
        platform::NotificationCenter::defaultCenter().post(
            kWatcherDidStart, nullptr,
            platform::UserInfo{{kUserInfoRunLoop, loop},
                               {kUserInfoWatcherObj, temporary},
                               {kUserInfoIndex, index},
                               {kUserInfoTimer, timer}});
        logf("Inside doInstallTheWatcherNew => WatcherDidStart sent for index %d", index);
    }
    // A stop that came while this thread was starting could not reach its
    // loop; honour it now so that one slot never runs two streams.
    if (owner && !owner->isCurrentStream(generation)) loop->stop();

    loop->run();

    logf("Inside doInstallTheWatcherNew => run loop done for index %d", index);
    if (timer) loop->removeTimer(timer);
    stream->stop();
    stream->invalidate();
}

} // namespace watcher
