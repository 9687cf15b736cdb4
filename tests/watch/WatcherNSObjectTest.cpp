#include "watch/WatcherTestFixture.h"

#include "platform/runtime/Task.h"
#include "platform/preferences/Value.h"
#include "support/StderrCapture.h"
#include "core/PathString.h"
#include "pass/FolderSlotRules.h"
#include "watch/watcher.h"

#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/SlowWriter.h"
#include "support/TaskDoneRecorder.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <fstream>
#include <map>

using namespace watch_test;
using testing_support::readFile;
using testing_support::StderrCapture;
using testing_support::waitUntilContains;

// Counts the writes of each slot's running flag: the only preference a
// watcher writes, and each write goes through to the file.
class RunningFlagWrites {
public:
    RunningFlagWrites() {
        for (int i = 1; i <= 3; ++i)
            ids_.push_back(
                prefs().addObserver(CommonHeader::inProgressKey(i),
                                    [this, i](const std::string &, const platform::Value &) { ++writes_[i]; }));
    }
    ~RunningFlagWrites() {
        for (auto id : ids_) prefs().removeObserver(id);
    }
    size_t of(int slot) const { return writes_[slot]; }

private:
    static platform::UserDefaults& prefs() { return platform::UserDefaults::standard(); }
    std::vector<platform::UserDefaults::ObserverId> ids_;
    std::atomic<size_t> writes_[4] = {};
};

TEST_F(WatcherTest, AStreamEventReachesOnlyItsOwnWatcher) {
    makeAllWatchers();
    std::atomic<int> posted{0};
    platform::NotificationCenter::defaultCenter().addObserver(&posted, kWatcherItemChanged,
                                                              [&](const auto&) { ++posted; });
    PassRecorder recorder;
    RunningFlagWrites writes;
    // Slot 2, already watching, is started again: its new stream is the one to wait for.
    const auto firstLoop2 = w[2]->_CFRunLoopRef();
    post(kWatcherDoStartAll);
    ASSERT_TRUE(waitUntil([&] {
        return w[1]->_CFRunLoopRef() && w[2]->_CFRunLoopRef() && w[2]->_CFRunLoopRef() != firstLoop2 &&
               w[3]->_CFRunLoopRef();
    }));
    EXPECT_EQ(w[1]->_whichPath(), "prefCameraFolderPathFormat1");
    // Switching on archives what came meanwhile: one pass each.
    ASSERT_TRUE(waitUntil([&] { return recorder.passes(2) == 1 && recorder.passes(3) == 1; }));
    ASSERT_TRUE(waitIdle());

    writeFile(src[1] / "a/b/c/photo.jpg", "pixels");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "a/b/c/photo.jpg")); }, 20s));
    EXPECT_EQ(readFile(archived(1, "a/b/c/photo.jpg")), "pixels");
    ASSERT_TRUE(waitIdle());
    std::this_thread::sleep_for(1500ms); // one more stream latency for late events
    ASSERT_TRUE(waitIdle());
    platform::NotificationCenter::defaultCenter().removeObserver(&posted);
    EXPECT_EQ(posted, 0) << "events go to their own watcher, not round the centre";
    EXPECT_EQ(recorder.passes(2) + recorder.passes(3), 2u) << "no pass but the switch-on's";
    // Each pass writes its slot's running flag twice, and nothing else does.
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(writes.of(i), 2 * recorder.passes(i)) << i;
}

TEST_F(WatcherTest, RequestsDuringAPassGiveExactlyOneFollowUp) {
    makeWatcher(1);
    for (int i = 0; i < 30; ++i) writeFile(src[1] / ("f" + std::to_string(i) + ".jpg"), std::string(1000, 'x'));
    PassRecorder recorder;
    StderrCapture log;
    for (int i = 0; i < 40; ++i) post(kWatcherItemChanged, platform::UserInfo{{kUserInfoWatchPath, src[1].string()}});
    writeFile(src[1] / "late.jpg", "late");
    ASSERT_TRUE(waitUntil([&] { return recorder.passes(1) >= 2; }));
    ASSERT_TRUE(waitIdle());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.passes(1), 2u);
    EXPECT_TRUE(fs::exists(archived(1, "late.jpg"))) << log.text();
    EXPECT_TRUE(fs::exists(archived(1, "f29.jpg")));
    EXPECT_TRUE(log.contains("self._insideFoundItemLoop is TRUE...SKIPPING index = 1")) << log.text();
}

namespace {

// A watched slot 1 with a settle time of 1 minute, whose first pass has left
// a file behind as too young: it was written `age` ago.
class SettleTest : public WatcherTest {
protected:
    PassRecorder recorder;
    void watchAndLeaveYoungFile(std::chrono::seconds age) {
        prefs().setInteger(kPrefBackupSourceImagesAfterMinutesOld, 1);
        makeWatcher(1);
        post(kWatcherDoStart, index(1));
        ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
        auto file = src[1] / "young.jpg";
        writeFile(file, "young");
        fs::last_write_time(file, fs::file_time_type::clock::now() - age);
        ASSERT_TRUE(waitUntil([&] { return recorder.passes(1) >= 1; }));
        ASSERT_TRUE(waitIdle());
        std::this_thread::sleep_for(200ms); // the follow-up is set once the pass has ended
        EXPECT_FALSE(fs::exists(archived(1, "young.jpg")));
    }
};

} // namespace

TEST_F(SettleTest, YoungFileIsArchivedOnceSettledWithoutFurtherChange) {
    // Its second whole minute ends about 10 s from now.
    watchAndLeaveYoungFile(110s);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "young.jpg")); }, 40s));
}

TEST_F(SettleTest, StoppingTheSlotCancelsTheSettleFollowUp) {
    watchAndLeaveYoungFile(115s);
    size_t before = recorder.passes(1);
    post(kWatcherDoStop, index(1));
    std::this_thread::sleep_for(8s);
    EXPECT_EQ(recorder.passes(1), before);
    EXPECT_FALSE(fs::exists(archived(1, "young.jpg")));
}

TEST_F(SettleTest, TheSettleFollowUpKeepsToTheFolderThatWasArchived) {
    watchAndLeaveYoungFile(110s);
    writeFile(src[2] / "web.jpg", "web");
    std::atomic<int> claims{0};
    auto id = prefs().addObserver(CommonHeader::inProgressKey(1), [&](const std::string&, const platform::Value& v) {
        if (v.toBool()) ++claims;
    });
    choose(1, src[2]); // slot 1 now names another folder
    const size_t passes = recorder.passes(1);
    ASSERT_TRUE(waitUntil([&] { return claims > 0; }, 40s)) << "the follow-up never ran";
    ASSERT_TRUE(waitIdle());
    prefs().removeObserver(id);
    EXPECT_EQ(recorder.passes(1), passes);
    EXPECT_FALSE(fs::exists(dest / "Web"));
}

TEST_F(WatcherTest, ScanArchivesEveryEnabledSourceOnly) {
    makeAllWatchers();
    prefs().setBool("prefCameraFolderPathEnableFormat3", false);
    prefs().removeObjectForKey("prefCameraFolderPathEnableFormat2"); // never stored: on for a pass
    for (int i = 1; i <= 3; ++i) writeFile(src[i] / "sub/img.jpg", "slot" + std::to_string(i));
    PassRecorder recorder;
    scan();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(readFile(archived(1, "sub/img.jpg")), "slot1");
    EXPECT_EQ(readFile(archived(2, "sub/img.jpg")), "slot2");
    EXPECT_FALSE(fs::exists(dest / "Composed"));
    EXPECT_EQ(recorder.passes(3), 0u);
    for (int i = 0; i <= 3; ++i) EXPECT_TRUE(prefs().objectForKey(CommonHeader::inProgressKey(i)).isNone());

    // The same unset switch keeps the stream off.
    post(kWatcherDoStart, index(2));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(w[2]->_CFRunLoopRef(), nullptr);
}

TEST_F(WatcherTest, StartAndStopActOnTheirSlotsAndSetParamsRestarts) {
    makeAllWatchers();
    StderrCapture log;
    post(kWatcherDoStart, index(2));
    ASSERT_TRUE(waitUntil([&] { return w[2]->_CFRunLoopRef() != nullptr; }));
    EXPECT_EQ(w[1]->_CFRunLoopRef(), nullptr);
    EXPECT_EQ(w[3]->_CFRunLoopRef(), nullptr);
    EXPECT_TRUE(log.contains("index 2 does not match mine (1)"));

    post(kWatcherDoStartAll);
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() && w[2]->_CFRunLoopRef() && w[3]->_CFRunLoopRef(); }));
    post(kWatcherDoStop, index(1));
    EXPECT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() == nullptr; }));
    EXPECT_NE(w[2]->_CFRunLoopRef(), nullptr);

    prefs().setBool("prefCameraFolderPathEnableFormat3", false);
    auto oldLoop2 = w[2]->_CFRunLoopRef();
    platform::NotificationCenter::defaultCenter().post(kWatcherSetParams, std::make_shared<int>(0));
    EXPECT_TRUE(waitUntil([&] { return w[3]->_CFRunLoopRef() == nullptr; }));
    ASSERT_TRUE(waitUntil([&] { return w[2]->_CFRunLoopRef() && w[2]->_CFRunLoopRef() != oldLoop2; }));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(w[3]->_CFRunLoopRef(), nullptr);

    post(kWatcherDoStopAll);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(waitUntil([&] { return w[i]->_CFRunLoopRef() == nullptr; }));
    EXPECT_TRUE(waitUntil([&] { return threadCount() <= baselineThreads; }, 10s));
}

TEST_F(WatcherTest, MissingDestinationEndsThePassWithoutCleaningUp) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    fs::remove_all(dest);
    auto hidden = src[1] / "sub/.tmp-old";
    writeFile(hidden, "x");
    fs::last_write_time(hidden, fs::file_time_type::clock::now() - 5min);
    writeFile(src[1] / "keep.jpg", "keep");

    std::vector<std::string> events;
    std::mutex m;
    for (const auto& name : {kWatcherDidStart, kWatcherDidStop})
        platform::NotificationCenter::defaultCenter().addObserver(&events, name, [&](const auto& n) {
            std::lock_guard lock(m);
            events.push_back(n.name);
        });
    StderrCapture log;
    scan();
    ASSERT_TRUE(waitIdle());
    platform::NotificationCenter::defaultCenter().removeObserver(&events);
    EXPECT_EQ(events, (std::vector<std::string>{"WatcherDidStart", "WatcherDidStop"}));
    EXPECT_FALSE(w[1]->_insideFoundItemLoop());
    EXPECT_TRUE(prefs().objectForKey("prefWatcherObject01InProgress").isNone());
    EXPECT_FALSE(prefs().boolForKey("prefDestinationFolderPathAliasDataIsValidFormat1"));
    EXPECT_TRUE(log.contains("for index[1] FAILED to Start Synching - Destination Missing or Invalid...."));
    // Nothing was copied, so the clean-up removes nothing: the hidden file may be a photo.
    EXPECT_FALSE(log.contains("Will try to delete empty folders inside this path")) << log.text();
    EXPECT_TRUE(fs::exists(hidden));
    EXPECT_TRUE(fs::exists(src[1] / "keep.jpg"));
}

TEST_F(WatcherTest, APassCleansUpTheFolderItArchivedWhenThePathChangesMeanwhile) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    auto other = tmp.makeFolder("Shoot/Other");
    for (const auto& folder : {src[1], other}) {
        writeFile(folder / ".old-hidden", "x");
        fs::last_write_time(folder / ".old-hidden", fs::file_time_type::clock::now() - 5min);
    }
    for (int i = 0; i < 60; ++i) writeFile(src[1] / ("img" + std::to_string(i) + ".jpg"), "x");

    PassRecorder recorder;
    scan();
    ASSERT_TRUE(waitUntil([&] { return recorder.passes(1) == 1; }));
    ASSERT_TRUE(w[1]->_insideFoundItemLoop());
    choose(1, other); // the user picks another folder while the pass copies
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(src[1] / ".old-hidden"); }, 20s));
    EXPECT_TRUE(fs::exists(other / ".old-hidden"));
    EXPECT_TRUE(fs::exists(archived(1, "img59.jpg")));
    EXPECT_FALSE(fs::exists(dest / "Other"));
}

TEST_F(WatcherTest, RunningFlagIsOnDiskWhileThePassRunsAndAPassOutlivesItsStream) {
    makeWatcher(1);
    for (int i = 0; i < 120; ++i) writeFile(src[1] / ("d" + std::to_string(i % 4)) / (std::to_string(i) + ".jpg"), "x");
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    auto flagOnDisk = [] {
        auto v = platform::Value::readPlistFile(platform::UserDefaults::standardFilePath());
        return v && (*v)["prefWatcherObject01InProgress"].toBool();
    };
    scan();
    ASSERT_TRUE(w[1]->_insideFoundItemLoop());
    EXPECT_TRUE(waitUntil(flagOnDisk, 5s));
    post(kWatcherDoStop, index(1)); // stop the stream mid-pass
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(waitUntil([&] { return !flagOnDisk(); }, 5s));
    for (int i = 0; i < 120; ++i)
        EXPECT_TRUE(fs::exists(archived(1, "d" + std::to_string(i % 4) + "/" + std::to_string(i) + ".jpg"))) << i;
}

TEST_F(WatcherTest, NewFolderWithManyFilesIsArchivedWhole) {
    makeWatcher(1);
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    fs::create_directories(src[1] / "burst");
    for (int i = 0; i < 200; ++i) writeFile(src[1] / "burst" / ("img" + std::to_string(i) + ".jpg"), "data");
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code ec;
            return fs::is_directory(archived(1, "burst"), ec) && countEntries(archived(1, "burst").c_str()) == 200;
        },
        90s));
}

TEST_F(WatcherTest, DroppedEventsAreReportedAndStillCoverTheFolder) {
    makeWatcher(1);
    writeFile(src[1] / "x/y.jpg", "y");
    // What a stream delivers after the kernel's queue overflowed.
    char buffer[watcher::kPathBufferSize] = {};
    std::snprintf(buffer, sizeof buffer, "%s", src[1].c_str());
    testing::internal::CaptureStdout();
    watcher::fsevents_callback(nullptr, {buffer, w[1].get()},
                               {{src[1].string() + "/x", platform::FileEventStream::KernelDropped |
                                                             platform::FileEventStream::UserDropped}});
    ASSERT_TRUE(waitIdle());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("BAD NEWS! We dropped events.\nForcing a full rescan.\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("REALLY BAD NEWS"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(archived(1, "x/y.jpg")));
}

TEST_F(WatcherTest, LongPathIsRefusedLikeAMissingFolder) {
    std::string longName(200, 'n');
    auto deep = src[1] / longName / longName / longName;
    fs::create_directories(deep);
    choose(1, deep);
    makeWatcher(1);
    StderrCapture log;
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntilContains(log, "FAILED to install the watcher - folder does NOT exists?"));
    EXPECT_EQ(w[1]->_CFRunLoopRef(), nullptr);
}

TEST_F(WatcherTest, RepeatedStartStopLeavesOneStreamAndNoLeaks) {
    makeWatcher(1);
    size_t fds = fdCount();
    for (int i = 0; i < 50; ++i) {
        post(kWatcherDoStart, index(1));
        post(kWatcherDoStop, index(1));
    }
    ASSERT_TRUE(waitUntil([&] { return threadCount() <= baselineThreads; }, 15s)) << threadCount();
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(threadCount(), baselineThreads + 1);
    post(kWatcherDoStop, index(1));
    ASSERT_TRUE(waitUntil([&] { return threadCount() <= baselineThreads; }, 15s));
    EXPECT_TRUE(waitUntil([&] { return fdCount() <= fds; }, 5s)) << fdCount() << " > " << fds;
}

TEST_F(WatcherTest, DeletionNeverLosesAFileWithoutAnIdenticalCopy) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 2);
    testing_support::FileContents files;
    for (int i = 0; i < 20; ++i)
        files["d" + std::to_string(i % 3) + "/img " + std::to_string(i) + ".jpg"] = "v" + std::to_string(i);
    files["-dash.jpg"] = "dash";
    files["Ünïcødé.jpg"] = "u";
    for (auto& [rel, data] : files) writeFile(src[1] / rel, data);

    testing_support::ChildrenInTheFuture future(3);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    scan();
    ASSERT_TRUE(waitIdle());
    std::this_thread::sleep_for(500ms); // the clean-up runs end on their own
    testing_support::expectNothingLost(files, src[1], archived(1, ""));
    EXPECT_TRUE(testing_support::fileContents(src[1]).empty()) << "every file had a verified copy";
}

TEST_F(WatcherTest, CleanUpSparesAHiddenFileStillBeingWritten) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    auto old = src[1] / "sub/.left-behind";
    writeFile(old, "x");
    fs::last_write_time(old, fs::file_time_type::clock::now() - 5min);
    // A tethering program writes the photo under a hidden name, renaming it when done.
    auto partial = src[1] / ".IMG_0001.jpg.part";
    testing_support::SlowWriter writer(partial, 1000, 20ms, 20);
    ASSERT_TRUE(writer.started());

    scan();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(old); }, 20s)); // the clean-up has run
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(fs::exists(partial));
    writer.stop();
    std::error_code ec;
    fs::rename(partial, src[1] / "IMG_0001.jpg", ec);
    EXPECT_FALSE(ec) << ec.message();
}

TEST_F(WatcherTest, APassIsRefusedWhenItsFolderCollidesWithAnotherSlot) {
    makeAllWatchers();
    prefs().setBool("prefCameraFolderPathEnableFormat3", false);
    struct Case {
        const char* what;
        fs::path folder1;
        fs::path folder2;
    } cases[] = {
        {"two sources of one name", tmp.makeFolder("cardA/DCIM"), tmp.makeFolder("cardB/DCIM")},
        {"a source inside the destination", dest / "Inside", src[2]},
        {"a path with {}", tmp.makeFolder("odd{}/Main"), src[2]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(c.folder1);
        choose(1, c.folder1);
        choose(2, c.folder2);
        writeFile(c.folder1 / "photo.jpg", "one");
        std::vector<std::string> reasons;
        std::mutex m;
        platform::NotificationCenter::defaultCenter().addObserver(&reasons, kWatcherPassRefused, [&](const auto& n) {
            const auto* reason = n.template info<std::string>(kUserInfoReason);
            auto* watcher = n.template info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj);
            std::lock_guard lock(m);
            if (reason && watcher && (*watcher)->_index() == 1) reasons.push_back(*reason);
        });
        PassRecorder recorder;
        scan();
        ASSERT_TRUE(waitIdle());
        platform::NotificationCenter::defaultCenter().removeObserver(&reasons);
        EXPECT_EQ(recorder.passes(1), 0u);
        EXPECT_EQ(reasons.size(), 1u);
        EXPECT_EQ(readFile(c.folder1 / "photo.jpg"), "one");
        if (!PathString::isWithin(c.folder1.string(), dest.string())) {
            EXPECT_FALSE(fs::exists(dest / c.folder1.filename()));
        }
    }
}

TEST_F(WatcherTest, AChangeIsOnlyOfTheFolderSpelledExactlySo) {
    makeWatcher(1);
    writeFile(src[1] / "photo.jpg", "x");
    PassRecorder recorder;
    std::string otherCase = src[1].string();
    otherCase.back() = static_cast<char>(std::toupper(otherCase.back()));
    post(kWatcherItemChanged, platform::UserInfo{{kUserInfoWatchPath, otherCase}});
    EXPECT_EQ(recorder.passes(1), 0u);
    post(kWatcherItemChanged, platform::UserInfo{{kUserInfoWatchPath, src[1].string()}});
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(recorder.passes(1), 1u);
}

TEST_F(WatcherTest, TheCleanUpKeepsAHiddenFileThatHasNoIdenticalCopy) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    const auto old = std::chrono::file_clock::now() - 5min;
    // Copied fine: goes. Its copy cannot be written (a folder stands in the
    // way in the archive): stays.
    writeFile(src[1] / "sub/.copied", "a");
    writeFile(src[1] / "sub/.blocked", "b");
    for (const char* name : {"sub/.copied", "sub/.blocked"}) fs::last_write_time(src[1] / name, old);
    fs::create_directories(archived(1, "sub/.blocked/in the way"));

    scan();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(src[1] / "sub/.copied"); }, 20s));
    EXPECT_EQ(readFile(archived(1, "sub/.copied")), "a");
    EXPECT_EQ(readFile(src[1] / "sub/.blocked"), "b");
}

TEST_F(WatcherTest, ARunningPassAlwaysHasItsFlagSet) {
    // Requests from several threads at once: every pass that begins must
    // find its running flag set, even when the pass before ends meanwhile.
    makeWatcher(1);
    std::atomic<int> begun{0}, flagless{0};
    const std::string key = CommonHeader::inProgressKey(1);
    platform::NotificationCenter::defaultCenter().addObserver(&begun, kWatcherPassDidStart, [&](const auto&) {
        ++begun;
        if (!prefs().boolForKey(key)) ++flagless;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 60; ++i) scan();
        });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(waitUntil([&] { return !w[1]->_insideFoundItemLoop(); }));
    platform::NotificationCenter::defaultCenter().removeObserver(&begun);
    EXPECT_GT(begun, 1);
    EXPECT_EQ(flagless, 0);
}

TEST_F(WatcherTest, ANewPhotoOfAnArchivedNameKeepsTheEarlierCopyWithEitherEngine) {
    // A camera whose numbering starts again: the first IMG_0001.JPG was
    // archived and deleted as old; a different one must not destroy its copy.
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 2);
    testing_support::ChildrenInTheFuture future(3);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        const std::string name = fast ? "fast/IMG_0001.JPG" : "slow/IMG_0001.JPG";
        for (const char* contents : {"first card", "the second card's photo"}) {
            writeFile(src[1] / name, contents);
            scan();
            ASSERT_TRUE(waitIdle());
            ASSERT_FALSE(fs::exists(src[1] / name)) << "deleted once its copy was verified";
        }
        EXPECT_EQ(readFile(archived(1, name)), "the second card's photo");
        size_t kept = 0;
        for (const auto& [path, contents] : testing_support::fileContents(dest / kKeptFolderName))
            if (path.ends_with("/Main/" + name)) kept += contents == "first card";
        EXPECT_EQ(kept, 1u);
    }
}

// Start-up's stop requests come while a large tree's watches are still being
// added: the set-up ends there, and nothing of it is left behind.
TEST_F(WatcherTest, AStopDuringTheStreamsSetUpEndsItAndLeavesNoWatch) {
    auto inotifyDescriptors = [] {
        size_t n = 0;
        for (auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            n += fs::read_symlink(entry.path(), ec).string() == "anon_inode:inotify";
        }
        return n;
    };
    for (int i = 0; i < 200; ++i)
        for (int j = 0; j < 100; ++j) fs::create_directories(src[1] / std::to_string(i) / std::to_string(j));
    makeWatcher(1);
    const size_t before = inotifyDescriptors();
    post(kWatcherDoStart, index(1));
    post(kWatcherDoStop, index(1));
    EXPECT_TRUE(waitUntil([&] { return threadCount() <= baselineThreads && inotifyDescriptors() == before; }, 10s));
    EXPECT_EQ(w[1]->_CFRunLoopRef(), nullptr);
    // And a start after it watches afresh.
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }, 30s));
    writeFile(src[1] / "7/7/new.jpg", "new");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(archived(1, "7/7/new.jpg")); }, 20s));
}

// Switching watching on archives what came while it was off, without
// waiting for another event; a restart by new settings does not.
TEST_F(WatcherTest, SwitchingOnArchivesWhatCameMeanwhile) {
    makeWatcher(1);
    PassRecorder recorder;
    writeFile(src[1] / "while-off/photo.jpg", "pixels");
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "while-off/photo.jpg")); }, 10s));
    ASSERT_TRUE(waitIdle());

    const size_t passes = recorder.passes(1);
    platform::NotificationCenter::defaultCenter().post(kWatcherSetParams, std::make_shared<int>(0));
    ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(recorder.passes(1), passes);
}
