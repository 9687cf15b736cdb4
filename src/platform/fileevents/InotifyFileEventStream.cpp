#include "platform/fileevents/InotifyFileEventStream.h"

#include "platform/runtime/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

// Room for many events per read; a single one needs at most NAME_MAX + 17.
constexpr std::size_t kReadBufferSize = 64 * 1024;
// Bounds one readable callback, so that a flood of events cannot keep the
// loop from its timers; the loop calls again while the queue is not empty.
constexpr int kMaxReadsPerWakeUp = 16;

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::uint32_t whatHappened(std::uint32_t mask) {
    std::uint32_t flags = 0;
    if (mask & IN_CREATE) flags |= FileEventStream::ItemCreated;
    if (mask & IN_DELETE) flags |= FileEventStream::ItemRemoved;
    if (mask & (IN_MOVED_FROM | IN_MOVED_TO)) flags |= FileEventStream::ItemRenamed;
    if (mask & (IN_MODIFY | IN_CLOSE_WRITE)) flags |= FileEventStream::ItemModified;
    if (mask & IN_ATTRIB) flags |= FileEventStream::ItemInodeMetaMod;
    return flags;
}

void logWatchLimit(const std::string& folder) {
    long limit = InotifyWatchTable::maxUserWatches();
    long suggested = std::max(2 * limit, 524288L);
    logf("FileEventStream: the inotify watch limit of %ld folders per user "
         "(/proc/sys/fs/inotify/max_user_watches) is reached below %s; changes in the folders left "
         "unwatched are missed. Raise it as root with \"sysctl fs.inotify.max_user_watches=%ld\" and keep "
         "it with the line \"fs.inotify.max_user_watches=%ld\" in a file under /etc/sysctl.d/",
         limit, folder.c_str(), suggested, suggested);
}

} // namespace

std::unique_ptr<InotifyFileEventStream> InotifyFileEventStream::open(const std::string& folder,
                                                                     double latencySeconds, Callback callback,
                                                                     std::shared_ptr<const StreamCancel> cancel,
                                                                     bool fileEvents) {
    if (folder.empty()) {
        log("FileEventStream: no folder to watch");
        return nullptr;
    }
    if (cancel && cancel->cancelled()) {
        logf("FileEventStream: set-up of %s cancelled before it began", folder.c_str());
        return nullptr;
    }
    std::unique_ptr<InotifyFileEventStream> stream(new InotifyFileEventStream(
        withoutTrailingSlashes(folder), latencySeconds, std::move(callback), std::move(cancel), fileEvents));
    if (!stream->watchRoot()) return nullptr;
    return stream;
}

InotifyFileEventStream::InotifyFileEventStream(std::string folder, double latencySeconds, Callback callback,
                                               std::shared_ptr<const StreamCancel> cancel, bool fileEvents)
    : root_(std::move(folder)), latency_(std::max(0.0, latencySeconds)), callback_(std::move(callback)),
      fileEvents_(fileEvents), table_(std::move(cancel)), readBuffer_(kReadBufferSize) {}

InotifyFileEventStream::~InotifyFileEventStream() { invalidate(); }

bool InotifyFileEventStream::watchRoot() {
    if (table_.fd() < 0) {
        logf("FileEventStream: cannot open an inotify instance for %s: %s", root_.c_str(),
             strerror(table_.openError()));
        return false;
    }
    auto tree = table_.watchTree(root_, true);
    if (tree.cancelled) {
        logf("FileEventStream: set-up of %s cancelled after %zu folders; their watches are released", root_.c_str(),
             tree.watched);
        // Closing the instance drops every watch at once, far sooner than one by one.
        table_.close();
        return false;
    }
    if (tree.topError != 0) {
        logf("FileEventStream: cannot watch %s: %s", root_.c_str(), strerror(tree.topError));
        if (tree.topError == ENOSPC) logWatchLimit(root_);
        return false;
    }
    rootWd_ = table_.wdOf(root_);
    if (tree.tableFull) noteTableFull();
    return true;
}

bool InotifyFileEventStream::scheduleWithRunLoop(std::shared_ptr<RunLoop> loop) {
    std::lock_guard lock(loopMutex_);
    if (!loop || loop_ || invalidated_) return false;
    loop_ = std::move(loop);
    return true;
}

bool InotifyFileEventStream::start() {
    if (invalidated_ || !loop_ || table_.fd() < 0) return false;
    if (started_) return true;
    fdSource_ = loop_->addFdSource(table_.fd(), [this] { onReadable(); });
    started_ = true;
    // Events gathered before the start (a full watch table) wait no longer than others.
    if (!pending_.empty()) armLatencyTimer();
    return true;
}

void InotifyFileEventStream::flushSync() {
    if (!started_) return;
    readKernelQueue(true);
    deliver();
}

void InotifyFileEventStream::flushAsync() {
    std::lock_guard lock(loopMutex_);
    if (!loop_) return;
    loop_->perform([this, alive = std::weak_ptr<bool>(lifetime_)] {
        if (alive.lock()) flushSync();
    });
}

void InotifyFileEventStream::stop() {
    cancelLatencyTimer();
    if (fdSource_) loop_->removeFdSource(*fdSource_);
    fdSource_.reset();
    started_ = false;
}

void InotifyFileEventStream::invalidate() {
    if (invalidated_) return;
    stop();
    table_.close();
    rootWd_ = -1;
    invalidated_ = true;
    std::lock_guard lock(loopMutex_);
    loop_.reset();
}

// The owner has given the stream up while it walked new folders: what it
// would report goes nowhere, and its watches need not wait for invalidate().
void InotifyFileEventStream::abandon() {
    if (table_.fd() < 0) return;
    logf("FileEventStream: stream on %s cancelled; its watches are released", root_.c_str());
    stop();
    table_.close();
    rootWd_ = -1;
}

void InotifyFileEventStream::onReadable() {
    readKernelQueue(false);
    if (!pending_.empty()) armLatencyTimer();
}

// A flush reads everything queued at its call, however much that is, but
// not what keeps arriving while it reads.
void InotifyFileEventStream::readKernelQueue(bool everythingQueuedNow) {
    int queuedBytes = 0;
    if (everythingQueuedNow && ioctl(table_.fd(), FIONREAD, &queuedBytes) < 0) queuedBytes = 0;
    std::size_t bytesRead = 0;
    for (int reads = 0; table_.fd() >= 0; ++reads) {
        if (everythingQueuedNow ? bytesRead >= std::size_t(queuedBytes) : reads >= kMaxReadsPerWakeUp) break;
        ssize_t length = read(table_.fd(), readBuffer_.data(), readBuffer_.size());
        if (length < 0 && errno == EINTR) continue;
        if (length < 0 && errno != EAGAIN)
            logf("FileEventStream: cannot read the events of %s: %s", root_.c_str(), strerror(errno));
        if (length <= 0) break;
        bytesRead += std::size_t(length);
        handleBuffer(std::size_t(length));
    }
    if (resyncNeeded_) resync();
}

void InotifyFileEventStream::handleBuffer(std::size_t length) {
    for (std::size_t offset = 0; offset + sizeof(inotify_event) <= length;) {
        inotify_event event;
        std::memcpy(&event, readBuffer_.data() + offset, sizeof event);
        const char* name = readBuffer_.data() + offset + sizeof event;
        handle(event, event.len ? name : "");
        offset += sizeof event + event.len;
    }
}

// The lost events may have named folders that were made meanwhile.
void InotifyFileEventStream::resync() {
    resyncNeeded_ = false;
    if (rootWd_ < 0) return;
    auto tree = table_.resync(root_);
    if (tree.cancelled)
        abandon();
    else if (tree.tableFull)
        noteTableFull();
}

void InotifyFileEventStream::handle(const inotify_event& event, const char* name) {
    if (event.mask & IN_Q_OVERFLOW) {
        pending_.add(root_, MustScanSubDirs | KernelDropped);
        resyncNeeded_ = true;
        return;
    }
    const std::string* known = table_.pathOf(event.wd);
    // Watches we dropped ourselves still report their removal.
    if (!known) return;
    const std::string folder = *known;
    if (event.mask & IN_IGNORED) {
        table_.forget(event.wd);
        if (event.wd == rootWd_) {
            pending_.add(root_, RootChanged);
            rootWd_ = -1;
        }
        return;
    }
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        handleSelf(event.wd, folder, event.mask);
        return;
    }
    handleEntry(folder, event.mask, name);
}

void InotifyFileEventStream::handleEntry(const std::string& folder, std::uint32_t mask, const std::string& name) {
    if (!fileEvents_) pending_.add(folder, None);
    if (name.empty()) return; // the folder's own attributes
    if (mask & IN_ISDIR) return handleFolderEntry(folder, mask, name);
    if (fileEvents_) pending_.add(InotifyWatchTable::childPath(folder, name), ItemIsFile | whatHappened(mask));
}

void InotifyFileEventStream::handleFolderEntry(const std::string& folder, std::uint32_t mask,
                                               const std::string& name) {
    const std::string child = InotifyWatchTable::childPath(folder, name);
    if (mask & (IN_DELETE | IN_MOVED_FROM)) table_.unwatchTree(child);
    if (mask & (IN_CREATE | IN_MOVED_TO)) watchNewFolder(child);
}

// A folder below the root that goes away is reported by its parent; only
// the root has no parent in the tree to speak for it, and an unmount
// changes a folder without any entry of its parent changing.
void InotifyFileEventStream::handleSelf(int wd, const std::string& folder, std::uint32_t mask) {
    const std::uint32_t unmount = (mask & IN_UNMOUNT) ? Unmount : None;
    if (wd != rootWd_) {
        if (!unmount) return;
        pending_.add(folder, Unmount);
        // The folder the file system was mounted on shows through again.
        table_.unwatchTree(folder);
        watchNewFolder(folder);
        return;
    }
    pending_.add(root_, RootChanged | unmount);
    if (mask & IN_MOVE_SELF) {
        // Below its new place the tree no longer lies under the watched path.
        table_.unwatchTree(root_);
        rootWd_ = -1;
    }
}

// Files can land in a new folder before its watch is in place, so the new
// tree's folders are reported as changed once they are watched.
void InotifyFileEventStream::watchNewFolder(const std::string& folder) {
    auto tree =
        table_.watchTree(folder, false, [this](int, const std::string& watched) { pending_.add(watched, None); });
    if (tree.cancelled)
        abandon();
    else if (tree.tableFull)
        noteTableFull();
}

void InotifyFileEventStream::noteTableFull() {
    pending_.add(root_, MustScanSubDirs | UserDropped);
    if (tableFullLogged_) return;
    tableFullLogged_ = true;
    logWatchLimit(root_);
}

void InotifyFileEventStream::armLatencyTimer() {
    if (latencyTimer_ || !started_) return;
    // The first change of a batch starts the clock, so a steady stream of
    // changes still arrives at least once per latency.
    latencyTimer_ = loop_->addTimer(RunLoop::Seconds(latency_), RunLoop::Seconds(0), [this] {
        latencyTimer_.reset();
        deliver();
    });
}

void InotifyFileEventStream::cancelLatencyTimer() {
    if (latencyTimer_) loop_->removeTimer(*latencyTimer_);
    latencyTimer_.reset();
}

void InotifyFileEventStream::deliver() {
    cancelLatencyTimer();
    if (!started_ || pending_.empty()) return;
    auto events = pending_.take();
    // A copy, so that a callback that ends the stream does not end itself.
    auto callback = callback_;
    if (callback) callback(events);
}

} // namespace platform
