#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/UserFolders.h"

#include "platform/runtime/DateFormat.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/runtime/Log.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Writes are gathered this long before they go to disk, well inside the
// second in which a change must reach it.
constexpr auto FlushDelay = std::chrono::milliseconds(200);
// After a failed write the flush thread waits this long before trying again,
// so a read-only folder does not turn into a busy loop of failing writes.
constexpr auto RetryDelay = std::chrono::seconds(5);


std::string localStamp() { return DateFormat::format(std::chrono::system_clock::now(), "yyyyMMdd-HHmmss"); }

} // namespace

struct UserDefaults::Impl {
    enum class Disk { Attached, Blocked, Detached };
    struct ObserverEntry {
        std::string key;
        Observer call;
    };
    using Notification = std::pair<std::vector<std::shared_ptr<ObserverEntry>>, Value>;

    explicit Impl(fs::path f) : file(std::move(f)) {}

    const fs::path file;

    mutable std::mutex mutex; // guards everything below up to writeMutex
    std::condition_variable wake;
    Value::Dictionary user;
    Value::Dictionary registered;
    std::uint64_t generation = 0;  // changes made to the user layer
    std::uint64_t savedGeneration = 0;
    SteadyClock::time_point flushAt;
    bool stopping = false;
    bool failureLogged = false;
    Disk disk = Disk::Attached;
    std::string damage; // set once, by load()
    std::map<ObserverId, std::shared_ptr<ObserverEntry>> observers;
    ObserverId nextObserverId = 1;

    // Serialises whole writes, so an older snapshot never lands after a newer one.
    std::mutex writeMutex;
    std::thread flusher;

    bool dirty() const { return generation != savedGeneration; }

    const Value& effective(const std::string& key) const {
        if (auto it = user.find(key); it != user.end()) return it->second;
        if (auto it = registered.find(key); it != registered.end()) return it->second;
        static const Value none;
        return none;
    }

    std::vector<std::shared_ptr<ObserverEntry>> observersOf(const std::string& key) const {
        std::vector<std::shared_ptr<ObserverEntry>> found;
        for (const auto& [id, entry] : observers)
            if (entry->key == key) found.push_back(entry);
        return found;
    }

    static void deliver(const std::string& key, const Notification& n) {
        for (const auto& entry : n.first) entry->call(key, n.second);
    }

    void load(Access access);
    void moveDamagedAside(const std::string& why);
    void markChanged();
    bool write(bool fromFlusher);
    void flushLoop();
    void stopFlusher();
};

void UserDefaults::Impl::load(Access access) {
    // A store that only looks never writes, not even a repaired file.
    if (access == Access::ReadOnly) disk = Disk::Detached;
    std::error_code ec;
    if (!fs::exists(file, ec)) return;
    std::string why;
    auto value = Value::readPlistFile(file, &why);
    if (value && value->isDictionary()) {
        user = std::move(*value->dictionary());
        return;
    }
    damage = value ? "its root is not a dictionary" : why;
    if (access == Access::ReadOnly) {
        logf("Preferences file %s is damaged (%s); left as it is.", file.c_str(), damage.c_str());
        return;
    }
    moveDamagedAside(damage);
}

// The damaged file is the user's only copy of the settings: it is kept under
// a name that says what happened, and never written over.
void UserDefaults::Impl::moveDamagedAside(const std::string& why) {
    const std::string base = file.filename().string() + ".damaged-" + localStamp();
    std::string error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path aside = file.parent_path() / (attempt ? base + "-" + std::to_string(attempt) : base);
        switch (renameWithoutReplacing(file, aside, &error)) {
        case RenameResult::Done:
            damage = why + "; kept as " + aside.string();
            logf("Preferences file %s is damaged (%s); moved it aside to %s and started with empty preferences.",
                 file.c_str(), why.c_str(), aside.c_str());
            return;
        case RenameResult::TargetExists: continue;
        case RenameResult::Failed: attempt = 100; break;
        }
    }
    disk = Disk::Blocked;
    logf("Preferences file %s is damaged (%s) and could not be moved aside (%s); "
         "started with empty preferences that will not be saved.",
         file.c_str(), why.c_str(), error.c_str());
}

// Caller holds the mutex.
void UserDefaults::Impl::markChanged() {
    if (!dirty()) flushAt = SteadyClock::now() + FlushDelay;
    ++generation;
    wake.notify_all();
}

bool UserDefaults::Impl::write(bool fromFlusher) {
    std::lock_guard<std::mutex> serial(writeMutex);
    Value snapshot;
    std::uint64_t taken = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!dirty()) return true;
        if (disk != Disk::Attached) return false;
        snapshot = Value(user);
        taken = generation;
    }
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::string error;
    const bool ok = snapshot.writePlistFile(file, &error);
    std::lock_guard<std::mutex> lock(mutex);
    if (ok) {
        savedGeneration = std::max(savedGeneration, taken);
        failureLogged = false;
        // Changes made during the write are gathered afresh, not chased at once.
        if (dirty()) flushAt = SteadyClock::now() + FlushDelay;
        return true;
    }
    flushAt = SteadyClock::now() + RetryDelay;
    // The flush thread retries quietly; one line per run of failures is enough.
    if (!fromFlusher || !failureLogged)
        logf("Could not save preferences to %s: %s", file.c_str(), error.c_str());
    failureLogged = failureLogged || fromFlusher;
    return false;
}

void UserDefaults::Impl::flushLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (!dirty() || disk != Disk::Attached) {
            wake.wait(lock);
            continue;
        }
        const auto due = flushAt;
        if (wake.wait_until(lock, due, [&] { return stopping || flushAt != due; })) continue;
        lock.unlock();
        write(true);
        lock.lock();
    }
}

void UserDefaults::Impl::stopFlusher() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (flusher.joinable()) flusher.join();
}

// ---- the process-wide store

namespace {

// Never destroyed: the store must outlive every static that may still write
// preferences during exit. Dropped stores stay alive too, because a thread
// may still hold a reference to one.
struct StandardHolder {
    std::mutex mutex;
    std::shared_ptr<UserDefaults> current;
    std::vector<std::shared_ptr<UserDefaults>> dropped;
    bool exitHookInstalled = false;
    bool readOnly = false;
};

StandardHolder& holder() {
    static auto* h = new StandardHolder;
    return *h;
}

void saveStandardAtExit() { UserDefaults::resetStandard(); }

} // namespace

UserDefaults& UserDefaults::standard() {
    StandardHolder& h = holder();
    std::lock_guard<std::mutex> lock(h.mutex);
    if (!h.current) {
        h.current = std::make_shared<UserDefaults>(standardFilePath(), h.readOnly ? Access::ReadOnly : Access::ReadWrite);
        if (!h.exitHookInstalled) h.exitHookInstalled = std::atexit(saveStandardAtExit) == 0;
    }
    return *h.current;
}

void UserDefaults::setStandardReadOnly(bool readOnly) {
    StandardHolder& h = holder();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.readOnly = readOnly;
}

std::string UserDefaults::damage() const { return impl_->damage; }

fs::path UserDefaults::standardFilePath() {
    return UserFolders::config() / (std::string(TOLV_BUNDLE_ID) + ".plist");
}

void UserDefaults::resetStandard() {
    StandardHolder& h = holder();
    std::shared_ptr<UserDefaults> old;
    {
        std::lock_guard<std::mutex> lock(h.mutex);
        old = std::move(h.current);
        h.current.reset();
        if (old) h.dropped.push_back(old);
    }
    if (!old) return;
    old->impl_->stopFlusher();
    old->impl_->write(false);
    std::lock_guard<std::mutex> lock(old->impl_->mutex);
    // Late writes through a kept reference must not land in a home folder
    // that the environment no longer names.
    old->impl_->disk = Impl::Disk::Detached;
}

// ---- one store

UserDefaults::UserDefaults(fs::path file, Access access)
    : file_(std::move(file)), impl_(std::make_unique<Impl>(file_)) {
    impl_->load(access);
    impl_->flusher = std::thread([this] { impl_->flushLoop(); });
}

UserDefaults::~UserDefaults() {
    impl_->stopFlusher();
    impl_->write(false);
}

Value UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->effective(key);
}

std::vector<Value> UserDefaults::objectsForKeys(const std::vector<std::string>& keys) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<Value> values;
    values.reserve(keys.size());
    for (const auto& key : keys) values.push_back(impl_->effective(key));
    return values;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    return objectForKey(key).toString();
}

bool UserDefaults::boolForKey(const std::string& key) const { return objectForKey(key).toBool(); }

std::int64_t UserDefaults::integerForKey(const std::string& key) const { return objectForKey(key).toInteger(); }

double UserDefaults::doubleForKey(const std::string& key) const { return objectForKey(key).toDouble(); }

Value UserDefaults::userObjectForKey(const std::string& key) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->user.find(key);
    return it == impl_->user.end() ? Value() : it->second;
}

void UserDefaults::setObject(const std::string& key, const Value& value) {
    Impl::Notification notification;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        auto it = impl_->user.find(key);
        const bool present = it != impl_->user.end();
        if (value.isNone() ? !present : present && it->second == value) return;
        const Value before = impl_->effective(key);
        if (value.isNone()) impl_->user.erase(it);
        else impl_->user.insert_or_assign(key, value);
        impl_->markChanged();
        const Value& after = impl_->effective(key);
        if (after == before) return;
        notification = {impl_->observersOf(key), after};
    }
    Impl::deliver(key, notification);
}

void UserDefaults::registerDefaults(const Value::Dictionary& defaults) {
    std::vector<std::pair<std::string, Impl::Notification>> changed;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (const auto& [key, value] : defaults) {
            const Value before = impl_->effective(key);
            if (value.isNone()) impl_->registered.erase(key);
            else impl_->registered.insert_or_assign(key, value);
            const Value& after = impl_->effective(key);
            if (after != before) changed.push_back({key, {impl_->observersOf(key), after}});
        }
    }
    for (const auto& [key, notification] : changed) Impl::deliver(key, notification);
}

bool UserDefaults::synchronize() { return impl_->write(false); }

UserDefaults::ObserverId UserDefaults::addObserver(const std::string& key, Observer observer) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const ObserverId id = impl_->nextObserverId++;
    impl_->observers.emplace(id, std::make_shared<Impl::ObserverEntry>(Impl::ObserverEntry{key, std::move(observer)}));
    return id;
}

void UserDefaults::removeObserver(ObserverId id) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->observers.erase(id);
}

} // namespace platform
