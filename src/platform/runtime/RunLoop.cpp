#include "platform/runtime/RunLoop.h"

#include "platform/runtime/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using Callback = std::shared_ptr<std::function<void()>>;

// Longest wait of one pass of run(); only bounds the sleep, stop() wakes it.
constexpr RunLoop::Seconds kIdleWait{3600.0};
// Without a wake-up descriptor, stop() and perform() are noticed by polling this often.
constexpr RunLoop::Seconds kFallbackWait{0.02};

// Negative, NaN and absurdly large delays become something a clock can hold.
Clock::duration toDuration(RunLoop::Seconds s) {
    double v = s.count();
    if (!(v > 0)) return Clock::duration::zero();
    v = std::min(v, 1e9);
    return std::chrono::duration_cast<Clock::duration>(RunLoop::Seconds(v));
}

timespec toTimespec(Clock::duration d) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

} // namespace

struct RunLoop::Impl {
    struct Timer {
        Clock::time_point next;
        Clock::duration interval; // zero: one-shot
        Callback callback;
    };
    struct FdSource {
        int fd;
        Callback callback;
    };

    std::mutex mutex;
    int wakeFd = -1;
    std::atomic<bool> stopped{false};
    Id lastId = 0;
    std::map<Id, Timer> timers;
    std::map<Id, FdSource> sources;
    std::deque<std::function<void()>> work;

    Impl() {
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) logf("run loop: no wake-up descriptor (%s); falling back to polling", std::strerror(errno));
    }
    ~Impl() {
        if (wakeFd >= 0) close(wakeFd);
    }

    void wake() {
        if (wakeFd < 0) return;
        std::uint64_t one = 1;
        // A full counter (EAGAIN) already means "awake"; nothing else can fail here.
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    void drainWake() {
        std::uint64_t count;
        while (::read(wakeFd, &count, sizeof count) > 0) {
        }
    }

    Clock::duration waitTime(Seconds timeout) {
        Clock::duration wait = toDuration(timeout);
        if (wakeFd < 0) wait = std::min(wait, toDuration(kFallbackWait));
        std::lock_guard lock(mutex);
        if (!work.empty()) return Clock::duration::zero();
        auto now = Clock::now();
        for (const auto& [id, t] : timers) wait = std::min(wait, std::max(t.next - now, Clock::duration::zero()));
        return wait;
    }

    // Index 0 is the wake-up descriptor; the rest follow ids.
    std::vector<pollfd> pollSet(std::vector<Id>& ids) {
        std::vector<pollfd> fds{{wakeFd, POLLIN, 0}};
        std::lock_guard lock(mutex);
        for (const auto& [id, s] : sources) {
            ids.push_back(id);
            fds.push_back({s.fd, POLLIN, 0});
        }
        return fds;
    }

    void waitForEvents(Seconds timeout) {
        std::vector<Id> ids;
        std::vector<pollfd> fds = pollSet(ids);
        timespec ts = toTimespec(waitTime(timeout));
        int n = ppoll(fds.data(), fds.size(), &ts, nullptr);
        if (n <= 0) return; // timeout or signal: timers and work are checked anyway
        if (fds[0].revents) drainWake();
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents) dispatchSource(ids[i - 1], fds[i]);
    }

    void dispatchSource(Id id, const pollfd& p) {
        Callback callback;
        {
            std::lock_guard lock(mutex);
            auto it = sources.find(id);
            if (it == sources.end()) return;
            // A closed descriptor would report itself forever and spin the loop.
            if (p.revents & POLLNVAL) {
                logf("run loop: descriptor %d of a source is not open; source removed", p.fd);
                sources.erase(it);
                return;
            }
            callback = it->second.callback;
        }
        (*callback)();
    }

    void runWork() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(work);
        }
        // Work queued by this batch waits for the next pass, so fd sources and timers are not starved.
        for (auto& fn : batch) fn();
    }

    std::vector<Id> dueTimers(Clock::time_point now) {
        std::vector<std::pair<Clock::time_point, Id>> due;
        {
            std::lock_guard lock(mutex);
            for (const auto& [id, t] : timers)
                if (t.next <= now) due.emplace_back(t.next, id);
        }
        std::sort(due.begin(), due.end());
        std::vector<Id> ids;
        for (const auto& d : due) ids.push_back(d.second);
        return ids;
    }

    // Claims one firing of the timer: a repeating timer moves on to its next
    // moment in phase, skipping the moments missed; a one-shot one is dropped.
    Callback claimFiring(Id id, Clock::time_point now) {
        std::lock_guard lock(mutex);
        auto it = timers.find(id);
        if (it == timers.end() || it->second.next > now) return nullptr;
        Timer& t = it->second;
        Callback callback = t.callback;
        if (t.interval == Clock::duration::zero()) {
            timers.erase(it);
        } else {
            auto missed = (now - t.next) / t.interval;
            t.next += (missed + 1) * t.interval;
        }
        return callback;
    }

    void fireTimers() {
        auto now = Clock::now();
        for (Id id : dueTimers(now))
            if (Callback callback = claimFiring(id, now)) (*callback)();
    }

    Id addTimer(Seconds firstFire, Seconds interval, std::function<void()> callback) {
        Id id;
        {
            std::lock_guard lock(mutex);
            id = ++lastId;
            timers[id] = Timer{Clock::now() + toDuration(firstFire), toDuration(interval),
                               std::make_shared<std::function<void()>>(std::move(callback))};
        }
        wake();
        return id;
    }
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;

std::shared_ptr<RunLoop> RunLoop::current() {
    thread_local std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
    return loop;
}

void RunLoop::run() {
    while (!impl_->stopped) runOnce(kIdleWait);
}

void RunLoop::stop() {
    impl_->stopped = true;
    impl_->wake();
}

bool RunLoop::isStopped() const { return impl_->stopped; }

void RunLoop::runOnce(Seconds timeout) {
    impl_->waitForEvents(timeout);
    impl_->runWork();
    impl_->fireTimers();
}

RunLoop::Id RunLoop::addTimer(Seconds firstFire, Seconds interval, std::function<void()> callback) {
    return impl_->addTimer(firstFire, interval, std::move(callback));
}

void RunLoop::setTimerNextFire(Id timer, Seconds fromNow) {
    {
        std::lock_guard lock(impl_->mutex);
        auto it = impl_->timers.find(timer);
        if (it == impl_->timers.end()) return;
        it->second.next = Clock::now() + toDuration(fromNow);
    }
    impl_->wake();
}

void RunLoop::removeTimer(Id timer) {
    std::lock_guard lock(impl_->mutex);
    impl_->timers.erase(timer);
}

RunLoop::Id RunLoop::addFdSource(int fd, std::function<void()> onReadable) {
    if (fd < 0) {
        logf("run loop: ignoring a source for descriptor %d", fd);
        return 0;
    }
    Id id;
    {
        std::lock_guard lock(impl_->mutex);
        id = ++impl_->lastId;
        impl_->sources[id] = Impl::FdSource{fd, std::make_shared<std::function<void()>>(std::move(onReadable))};
    }
    impl_->wake();
    return id;
}

void RunLoop::removeFdSource(Id source) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->sources.erase(source);
    }
    // The loop may be polling the descriptor, which its owner may close next.
    impl_->wake();
}

void RunLoop::perform(std::function<void()> fn) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->work.push_back(std::move(fn));
    }
    impl_->wake();
}

namespace {

std::mutex& backendMutex() {
    static std::mutex m;
    return m;
}

MainLoop::Backend& backend() {
    static auto* b = new MainLoop::Backend;
    return *b;
}

} // namespace

void MainLoop::setBackend(Backend b) {
    std::lock_guard lock(backendMutex());
    backend() = std::move(b);
}

std::shared_ptr<RunLoop> MainLoop::plainLoop() {
    // Never destroyed: other threads may queue work while the process exits.
    static auto* loop = new std::shared_ptr<RunLoop>(std::make_shared<RunLoop>());
    return *loop;
}

void performAfterDelay(double seconds, std::function<void()> fn) {
    MainLoop::Backend b;
    {
        std::lock_guard lock(backendMutex());
        b = backend();
    }
    if (b) b(seconds, std::move(fn));
    else MainLoop::plainLoop()->addTimer(RunLoop::Seconds(seconds), RunLoop::Seconds(0), std::move(fn));
}

} // namespace platform
