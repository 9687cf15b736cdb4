#pragma once
// The per-user preference store: a user layer kept in an XML property list
// and a lower, in-memory layer of registered defaults. Safe from any thread;
// every read sees the latest write.

#include "platform/preferences/Value.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include <thread>

namespace platform {

class UserDefaults {
public:
    // The store of this application:
    // ${XDG_CONFIG_HOME:-$HOME/.config}/com.orvane.tolv-archiver.plist
    static UserDefaults& standard();
    static std::filesystem::path standardFilePath();
    // Flushes and drops the standard store, so the next standard() reads the
    // file named by the environment afresh (tests that move HOME). A reference
    // kept from before stays valid but no longer writes to disk. Also run at
    // exit, so pending changes are saved.
    static void resetStandard();
    // From the next standard() on (call resetStandard() first when one is
    // open), the store reads its file and never writes, renames or repairs
    // it: for commands that only look. Changes stay in memory.
    static void setStandardReadOnly(bool readOnly);

    enum class Access { ReadWrite, ReadOnly };
    explicit UserDefaults(std::filesystem::path file, Access access = Access::ReadWrite);
    ~UserDefaults(); // flushes pending changes
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    Value objectForKey(const std::string& key) const;             // None when absent
    // Several at once, as one consistent read: no write comes between them.
    std::vector<Value> objectsForKeys(const std::vector<std::string>& keys) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;                // NO when absent
    std::int64_t integerForKey(const std::string& key) const;     // 0 when absent
    double doubleForKey(const std::string& key) const;            // 0 when absent
    // The user layer alone, without the registered defaults.
    Value userObjectForKey(const std::string& key) const;

    void setObject(const std::string& key, const Value& value);   // None removes
    void setBool(const std::string& key, bool value) { setObject(key, Value(value)); }
    void setInteger(const std::string& key, std::int64_t value) { setObject(key, Value(value)); }
    void removeObjectForKey(const std::string& key) { setObject(key, Value()); }

    void registerDefaults(const Value::Dictionary& defaults);
    // Writes the user layer to disk now. NO when the file could not be
    // written; the previous file is then left as it was.
    bool synchronize();

    // Observers of one key, called on the writing thread after each change
    // of the key's effective value (write, removal or registration), outside
    // the store's lock, so they may read or write the store. The value passed
    // is the one that change made; with writers on several threads at once,
    // an observer that must show the latest value reads the store.
    using ObserverId = std::uint64_t;
    using Observer = std::function<void(const std::string& key, const Value& value)>;
    ObserverId addObserver(const std::string& key, Observer observer);
    void removeObserver(ObserverId id);

    std::filesystem::path filePath() const { return file_; }
    // Why the file could not be read when the store opened it ("" when it
    // could): it was then kept aside under a new name (which the text names),
    // or, read-only, left as it was; either way the store began empty.
    std::string damage() const;

private:
    struct Impl;
    std::filesystem::path file_;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
