#include "platform/runtime/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

struct NotificationCenter::Impl {
    struct Observer {
        const void* owner;
        std::string name;
        Handler handler;
        bool removed = false; // guarded by mutex
    };
    // A handler call under way, so removeObserver can wait for it.
    struct Call {
        const void* owner;
        std::thread::id thread;
    };

    std::mutex mutex;
    std::condition_variable callEnded;
    std::vector<std::shared_ptr<Observer>> observers;
    std::vector<Call> calls;

    std::vector<std::shared_ptr<Observer>> observersNamed(const std::string& name) {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Observer>> found;
        for (const auto& o : observers)
            if (o->name == name) found.push_back(o);
        return found;
    }

    // Registers the call unless the observer was removed since the snapshot.
    bool beginCall(const Observer& o) {
        std::lock_guard lock(mutex);
        if (o.removed) return false;
        calls.push_back({o.owner, std::this_thread::get_id()});
        return true;
    }

    void endCall(const Observer& o) {
        {
            std::lock_guard lock(mutex);
            auto self = std::this_thread::get_id();
            auto it = std::find_if(calls.rbegin(), calls.rend(),
                                   [&](const Call& c) { return c.owner == o.owner && c.thread == self; });
            if (it != calls.rend()) calls.erase(std::next(it).base());
        }
        callEnded.notify_all();
    }

    void deliver(const Observer& o, const Notification& n) {
        if (!beginCall(o)) return;
        struct EndCall {
            Impl& impl;
            const Observer& o;
            ~EndCall() { impl.endCall(o); }
        } end{*this, o};
        o.handler(n);
    }

    // The calling thread's own calls are not waited for: a handler that
    // unsubscribes itself would otherwise wait for itself.
    bool busyElsewhere(const void* owner) const {
        auto self = std::this_thread::get_id();
        return std::any_of(calls.begin(), calls.end(),
                           [&](const Call& c) { return c.owner == owner && c.thread != self; });
    }

    void remove(const void* owner) {
        std::unique_lock lock(mutex);
        std::erase_if(observers, [&](const std::shared_ptr<Observer>& o) {
            if (o->owner != owner) return false;
            o->removed = true;
            return true;
        });
        callEnded.wait(lock, [&] { return !busyElsewhere(owner); });
    }
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: tool-termination threads may post while the process exits.
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(const void* owner, const std::string& name, Handler handler) {
    auto observer = std::make_shared<Impl::Observer>(Impl::Observer{owner, name, std::move(handler)});
    std::lock_guard lock(impl_->mutex);
    impl_->observers.push_back(std::move(observer));
}

void NotificationCenter::removeObserver(const void* owner) { impl_->remove(owner); }

void NotificationCenter::post(const Notification& notification) {
    // A snapshot, so handlers may subscribe and unsubscribe while we deliver.
    for (const auto& observer : impl_->observersNamed(notification.name)) impl_->deliver(*observer, notification);
}

void NotificationCenter::post(const std::string& name, Object object, std::optional<UserInfo> userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo), {}});
}

void NotificationCenter::postWithContext(const std::string& name, Object context) {
    post(Notification{name, {}, std::nullopt, std::move(context)});
}

} // namespace platform
