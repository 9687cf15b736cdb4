#pragma once
// Three source slots and a destination set up as the folder rows leave them,
// with the watchers created the way the rows create them. Watchers are driven
// through notifications only.

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Task.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/WaitUntil.h"
#include "support/TempHome.h"
#include "watch/WatcherNSObject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace watch_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testing_support::waitUntil;
using testing_support::writeFile;

inline size_t countEntries(const char* folder) {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}
inline size_t threadCount() { return countEntries("/proc/self/task"); }
inline size_t fdCount() { return countEntries("/proc/self/fd"); }

// Counts the archive passes each watcher starts (its own "WatcherDidStart").
class PassRecorder {
public:
    PassRecorder() {
        platform::NotificationCenter::defaultCenter().addObserver(this, kWatcherPassDidStart, [this](const auto& n) {
            if (auto* w = n.template info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj)) {
                std::lock_guard lock(mutex_);
                passes_.push_back((*w)->_index());
            }
        });
    }
    ~PassRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(this); }
    size_t passes(int index) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count(passes_.begin(), passes_.end(), index));
    }

private:
    mutable std::mutex mutex_;
    std::vector<int> passes_;
};

class WatcherTest : public ::testing::Test {
protected:
    testing_support::TempHome tmp;
    fs::path dest;
    fs::path src[4];
    std::shared_ptr<WatcherNSObject> w[4];
    size_t threadsBefore = 0;   // before any watcher
    size_t baselineThreads = 0; // with the watchers' own loops, without streams

    platform::UserDefaults& prefs() { return platform::UserDefaults::standard(); }

    void SetUp() override {
        dest = tmp.makeFolder("Backup/Archive");
        src[1] = tmp.makeFolder("Shoot/Main");
        src[2] = tmp.makeFolder("Shoot/Web");
        src[3] = tmp.makeFolder("Shoot/Composed");
        testing_support::chooseDestination(dest);
        for (int i = 1; i <= 3; ++i) choose(i, src[i]);
        prefs().setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
        // Passes must copy on a nearly full test disk too; the floor has tests of its own.
        prefs().setInteger(kPrefMinimumFreeSpaceMB, 0);
        prefs().synchronize();
        // Children are started by one thread that lives as long as the
        // process: have it before counting the threads that must go again.
        platform::Task::runCapturingOutput({.path = "/bin/true", .arguments = {}, .workingDirectory = {}});
        threadsBefore = baselineThreads = threadCount();
    }

    void TearDown() override {
        platform::NotificationCenter::defaultCenter().post(kWatcherDoStopAll);
        waitIdle();
        // The stop's own work done too: each watcher then goes on this
        // thread, which joins its loop's thread.
        EXPECT_TRUE(waitUntil([&] {
            for (auto& watcher : w)
                if (watcher && !watcher->loopIsIdle()) return false;
            return true;
        }));
        for (auto& watcher : w) watcher.reset();
        // Stream threads end once their loops are stopped; let them go before the folders do.
        EXPECT_TRUE(waitUntil([&] { return threadCount() <= threadsBefore; }, 20s))
            << threadCount() << " threads left, " << threadsBefore << " before the test";
    }

    // What a row stores when the user chooses a folder.
    void choose(int slot, const fs::path& folder) {
        auto p = CommonHeader::slotParameters(slot);
        prefs().setObject(p[sPrefCameraFolderPathKey], folder.string());
        prefs().setBool(p[sPrefCameraFolderPathAliasDataIsValidKey], true);
        prefs().setBool(p[sPrefCameraFolderPathEnableKey], true);
    }

    // The calls a source row makes, without starting the stream.
    std::shared_ptr<WatcherNSObject> makeWatcher(int slot) {
        auto watcher = WatcherNSObject::create();
        watcher->set_index(static_cast<std::int16_t>(slot));
        watcher->set_Param(CommonHeader::slotParameters(slot));
        watcher->setupObservers();
        if (!w[slot]) ++baselineThreads; // its loop
        w[slot] = watcher;
        return watcher;
    }
    void makeAllWatchers() {
        for (int i = 1; i <= 3; ++i) makeWatcher(i);
    }

    bool waitIdle(std::chrono::milliseconds timeout = 60s) {
        return waitUntil(
            [&] {
                for (auto& watcher : w)
                    if (watcher && watcher->_insideFoundItemLoop()) return false;
                return true;
            },
            timeout);
    }

    static void post(const std::string& name, std::optional<platform::UserInfo> info = std::nullopt) {
        platform::NotificationCenter::defaultCenter().post(name, nullptr, std::move(info));
    }
    static platform::UserInfo index(int i) { return {{kUserInfoIndex, static_cast<std::int32_t>(i)}}; }
    // The scan command's notification: sent by the application, no userInfo.
    static void scan() {
        platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
    }

    fs::path archived(int slot, const std::string& relative) const { return dest / src[slot].filename() / relative; }
};

} // namespace watch_test
