#pragma once
// The process-wide notification centre. Delivery is synchronous on the
// posting thread; posting, subscribing and unsubscribing are safe from any
// thread and from inside a handler.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Objects travel by shared pointer so a payload keeps its object alive and
// can be compared by identity.
using Object = std::shared_ptr<void>;
// userInfo dictionary: numbers, strings, watcher references, run-loop handles.
using UserInfo = std::map<std::string, std::any>;

struct Notification {
    std::string name;
    Object object;                    // the sender, or null
    std::optional<UserInfo> userInfo; // the dictionary payload, if any
    Object context;                   // a payload that is one object, not a dictionary

    // Typed look-up in userInfo: nullptr when absent or of another type.
    template <class T>
    const T* info(const std::string& key) const {
        if (!userInfo) return nullptr;
        auto it = userInfo->find(key);
        return it == userInfo->end() ? nullptr : std::any_cast<T>(&it->second);
    }
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Subscribes owner to every notification of that name, from any sender.
    void addObserver(const void* owner, const std::string& name, Handler handler);
    // Drops all of owner's subscriptions. When it returns, no handler of
    // owner runs any more and none is running on another thread (a handler
    // that removes its own owner is not waited for).
    void removeObserver(const void* owner);

    void post(const Notification& notification);
    void post(const std::string& name, Object object = {}, std::optional<UserInfo> userInfo = std::nullopt);
    // Posts with a single object as payload (the KLVVR_TASK_DONE form).
    void postWithContext(const std::string& name, Object context);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
