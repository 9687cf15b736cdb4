// What each engine counts of a pass, held against the trees themselves: the
// copies that are new or changed afterwards, the files whose copy a full
// folder keeps out, the source files that are gone.
#include "engines/PassCounts.h"

#include "core/CommonHeader.h"
#include "support/ChildProcesses.h"
#include "support/ChildrenInTheFuture.h"
#include "support/TempHome.h"
#include "engines/BatchedSynchronization.h"
#include "engines/KLVR_Task.h"

#include "support/DiskJob.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ChildrenInTheFuture;
using testing_support::TempHome;

namespace {

constexpr int kDaysAhead = 40;
constexpr unsigned kMinutes = 20;

enum class Engine { perFile, fast, listed };

using Start = std::function<void(platform::Object)>;

Start startOf(Engine engine, const fs::path& source, const fs::path& destination, unsigned days,
              std::vector<std::string> listed) {
    const std::string s = source.string(), d = destination.string();
    if (engine == Engine::perFile)
        return [=](platform::Object c) { KLVR_Task::synchronizeFileItemsAtFolderPath(s, d, kMinutes, days, c); };
    if (engine == Engine::fast)
        return [=](platform::Object c) { KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(s, d, kMinutes, days, c); };
    return [=](platform::Object c) { KLVR_Task::synchronizeListedFileItemsAtFolderPath(s, d, listed, c); };
}

// How the run ended: whether it started, and the counts it carried.
struct End {
    bool started = false;
    std::optional<PassCounts> counts;
};

End run(const Start& start) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<End> end;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(&end, kKLVVR_TASK_DONE, [&](const platform::Notification& n) {
        const bool* started = n.info<bool>(kUserInfoTaskStarted);
        std::lock_guard lock(mutex);
        if (!end) end = End{started && *started, n.userInfo ? PassCounts::from(*n.userInfo) : std::nullopt};
        arrived.notify_all();
    });
    start(std::make_shared<int>(1));
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(arrived.wait_for(lock, 60s, [&] { return end.has_value(); })) << "the run did not end in time";
    }
    center.removeObserver(&end);
    EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    return end.value_or(End{});
}

// Relative path -> what tells one version of a regular file from another:
// size, modification time to the nanosecond, inode.
using Versions = std::map<std::string, std::string>;

Versions versions(const fs::path& root) {
    Versions files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files[entry.path().lexically_relative(root).string()] =
            std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
            std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ino);
    }
    return files;
}

std::int64_t newOrChanged(const Versions& before, const Versions& after) {
    return std::count_if(after.begin(), after.end(), [&](const auto& file) {
        auto it = before.find(file.first);
        return it == before.end() || it->second != file.second;
    });
}

std::int64_t gone(const Versions& before, const Versions& after) {
    return std::count_if(before.begin(), before.end(), [&](const auto& file) { return !after.count(file.first); });
}

platform::Date modified(const fs::path& file) {
    return std::chrono::time_point_cast<platform::Date::duration>(
        std::chrono::file_clock::to_sys(fs::last_write_time(file)));
}

void setAge(const fs::path& item, std::chrono::minutes age) {
    fs::last_write_time(item, fs::file_time_type::clock::now() - age);
}

// Files whose copy a full folder in its place keeps out: rsync will not
// replace a folder that holds something with a file.
const std::vector<std::string> kBlocked{"blocked/first.jpg", "second.jpg"};

// A source with new files, archived ones (one whose copy differs only in its
// permissions, which rsync sets without copying), a changed one, two whose
// copy is blocked (the first the older), a young one; copies of the archived
// and changed ones in the destination.
void arrange(const TempHome& home, const std::string& side, bool clockAhead) {
    for (const std::string name : {"new.jpg", "sub/new.jpg", "archived.jpg", "sub/archived.jpg", "perms.jpg"})
        setAge(home.writeFile(side + "/photos/" + name, "contents of " + name), 60min);
    for (const std::string name : {"archived.jpg", "sub/archived.jpg", "perms.jpg"}) {
        const fs::path copy = home.path() / side / "backup/photos" / name;
        fs::create_directories(copy.parent_path());
        fs::copy_file(home.path() / side / "photos" / name, copy);
        fs::last_write_time(copy, fs::last_write_time(home.path() / side / "photos" / name));
    }
    fs::permissions(home.path() / side / "backup/photos/perms.jpg", fs::perms(0600), fs::perm_options::replace);
    setAge(home.writeFile(side + "/photos/changed.jpg", "the new version"), 60min);
    setAge(home.writeFile(side + "/backup/photos/changed.jpg", "the old one"), 90min);
    setAge(home.writeFile(side + "/photos/" + kBlocked[0], "first"), 180min);
    setAge(home.writeFile(side + "/photos/" + kBlocked[1], "second"), 120min);
    for (const auto& name : kBlocked) home.writeFile(side + "/backup/photos/" + name + "/inside", "in the way");
    // Young by both clocks: the walk's, when it runs ahead, and this one's.
    const fs::path young = home.writeFile(side + "/photos/young.jpg", "being written");
    if (clockAhead) fs::last_write_time(young, fs::file_time_type::clock::now() + std::chrono::days(kDaysAhead) - 1min);
}

} // namespace

TEST(PassCountsTest, EveryEngineCountsWhatChangedInTheTrees) {
    struct Case {
        const char* what;
        Engine engine;
        unsigned days;
    };
    // The listed names leave out one archived file and the young one, and
    // hold one that does not exist.
    const std::vector<std::string> listed{"./new.jpg",     "./sub/new.jpg", "./archived.jpg", "./perms.jpg",
                                          "./changed.jpg", "./second.jpg",  "./gone.jpg",     "./blocked/first.jpg"};
    // After the first run, the blocking folders go one by one, oldest file
    // first; the last run has nothing left to do.
    struct Step {
        const char* what;
        size_t blockersLeft;
        std::int64_t copied, failed;
    };
    const Step steps[] = {
        {"first run", 2, 3, 2}, {"first file unblocked", 1, 1, 1}, {"both unblocked", 0, 1, 0}, {"no change", 0, 0, 0}};
    TempHome home;
    int n = 0;
    for (const Case& c :
         {Case{"per-file", Engine::perFile, 0}, Case{"per-file, deleting", Engine::perFile, 30},
          Case{"fast", Engine::fast, 0}, Case{"fast, deleting", Engine::fast, 30}, Case{"listed", Engine::listed, 0}}) {
        SCOPED_TRACE(c.what);
        std::optional<ChildrenInTheFuture> future;
        if (c.days > 0) future.emplace(kDaysAhead);
        if (future && !future->active()) {
            ADD_FAILURE() << "libfaketime is not installed: deletion is not counted";
            continue;
        }
        const std::string side = "case" + std::to_string(n++);
        arrange(home, side, future.has_value());
        const fs::path source = home.path() / side / "photos", destination = home.path() / side / "backup/photos";
        const Start start = startOf(c.engine, source, destination, c.days, listed);
        std::int64_t deletedInAll = 0;
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            for (size_t i = 0; i + step.blockersLeft < kBlocked.size(); ++i)
                if (fs::is_directory(destination / kBlocked[i])) fs::remove_all(destination / kBlocked[i]);
            const Versions sourceBefore = versions(source), copiesBefore = versions(destination);

            const End end = run(start);

            ASSERT_TRUE(end.started);
            ASSERT_TRUE(end.counts.has_value());
            const PassCounts& counts = *end.counts;
            EXPECT_EQ(counts.copied, newOrChanged(copiesBefore, versions(destination)));
            EXPECT_EQ(counts.copied, step.copied);
            EXPECT_EQ(counts.failed, step.failed);
            EXPECT_EQ(counts.deleted, gone(sourceBefore, versions(source)));
            deletedInAll += counts.deleted;
            if (step.failed > 0)
                EXPECT_EQ(counts.oldestFailed, modified(source / kBlocked[kBlocked.size() - step.blockersLeft]));
            else
                EXPECT_FALSE(counts.oldestFailed.has_value());
        }
        // Everything settled went once its copy stood: all but the young file.
        EXPECT_EQ(deletedInAll, c.days > 0 ? 8 : 0);
    }
}

TEST(PassCountsTest, OnlyARunThatStartedCarriesCounts) {
    TempHome home;
    const fs::path source = home.makeFolder("photos");
    setAge(home.writeFile("photos/a.jpg", "a"), 60min);
    const std::string s = source.string(), d = (home.path() / "backup/photos").string();
    const std::string missing = (home.path() / "no such tool").string();
    auto fastWith = [&](BatchedSynchronization::Tools tools) -> Start {
        return [=](platform::Object c) {
            BatchedSynchronization::start(testing_support::diskJob(s, d, kMinutes, 30, c), tools);
        };
    };
    auto listedWith = [&](std::vector<std::string> names, BatchedSynchronization::Tools tools) -> Start {
        return [=](platform::Object c) {
            BatchedSynchronization::start(testing_support::listedJob(s, d, names, c), tools);
        };
    };
    struct Case {
        const char* what;
        Start start;
        bool started;
    };
    const Case cases[] = {
        {"per-file, refused", startOf(Engine::perFile, source, source / "inside", 30, {}), false},
        {"fast, refused", startOf(Engine::fast, source, source / "inside", 30, {}), false},
        {"listed, refused", startOf(Engine::listed, source, source / "inside", 0, {"./a.jpg"}), false},
        {"per-file whose walk cannot start", startOf(Engine::perFile, home.path() / "missing", d, 30, {}), false},
        {"fast whose walk cannot start", fastWith({missing, BatchedSynchronization::defaultTools().rsync}), false},
        {"fast without rsync", fastWith({KLVR_Task::kFindToolPath, ""}), false},
        {"listed whose rsync cannot start", listedWith({"./a.jpg"}, {KLVR_Task::kFindToolPath, missing}), false},
        {"listed, nothing listed", listedWith({}, BatchedSynchronization::defaultTools()), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const End end = run(c.start);
        EXPECT_EQ(end.started, c.started);
        if (!c.started) {
            EXPECT_FALSE(end.counts.has_value());
            continue;
        }
        ASSERT_TRUE(end.counts.has_value());
        EXPECT_EQ(end.counts->copied + end.counts->failed + end.counts->deleted, 0);
    }
    EXPECT_FALSE(fs::exists(d)) << "no case copied anything";
}

// rsync takes a copy of the same size and second for identical, whatever
// its nanoseconds say (a destination such as exFAT keeps no finer time):
// such a copy is neither made again nor failed.
TEST(PassCountsTest, ACopyDifferingOnlyInFractionsOfASecondIsInPlace) {
    TempHome home;
    const fs::path photo = home.writeFile("photos/a.jpg", "pixels");
    const fs::path copy = home.writeFile("backup/photos/a.jpg", "pixels");
    const auto second = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(photo) - 60min);
    fs::last_write_time(photo, second + 500ms);
    fs::last_write_time(copy, second);
    for (Engine engine : {Engine::perFile, Engine::fast, Engine::listed}) {
        const End end = run(startOf(engine, home.path() / "photos", home.path() / "backup/photos", 0, {"./a.jpg"}));
        ASSERT_TRUE(end.counts.has_value());
        EXPECT_EQ(end.counts->copied, 0);
        EXPECT_EQ(end.counts->failed, 0);
    }
}
