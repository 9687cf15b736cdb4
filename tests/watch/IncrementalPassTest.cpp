// With fast archiving on, a watched folder's events copy only what they
// named; full passes (turning watching on, dropped events, commands, the
// periodic one) stay the safety net. Real streams, bfs and rsync.

#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/RecordingTool.h"
#include "platform/runtime/SearchPath.h"
#include "support/SlowWriter.h"
#include "watch/WatcherTestFixture.h"
#include "watch/watcher.h"

#include <fstream>
#include <map>
#include <random>

using namespace watch_test;
using testing_support::readFile;

namespace {

// A file the settle time has long passed. Each write gets a time of its own
// second: rsync takes a file of the same size and second as unchanged, and
// real rewrites are minutes apart once the settle time lies between them.
void writeSettled(const fs::path& p, const std::string& contents) {
    static const auto base = fs::file_time_type::clock::now() - std::chrono::hours(2);
    static int writes = 0;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << contents;
    fs::last_write_time(p, base + std::chrono::seconds(++writes));
}

void writeYoung(const fs::path& p, const std::string& contents) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << contents;
}

std::map<std::string, std::string> settledFiles(const fs::path& folder) {
    std::map<std::string, std::string> files;
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    for (auto& [path, contents] : testing_support::fileContents(folder))
        if (fs::last_write_time(folder / path) < old) files[path] = contents;
    return files;
}

class IncrementalPassTest : public WatcherTest {
protected:
    void SetUp() override {
        WatcherTest::SetUp();
        prefs().setBool(kPrefUseBatchedSynchronization, true);
        prefs().setInteger(kPrefBackupSourceImagesAfterMinutesOld, 1);
    }
    void watch() {
        makeWatcher(1);
        post(kWatcherDoStart, index(1));
        ASSERT_TRUE(waitUntil([&] { return w[1]->_CFRunLoopRef() != nullptr; }));
    }
    // The files of `expected` not archived with exactly that content.
    std::string notArchived(const std::map<std::string, std::string>& expected) {
        std::string missing;
        for (const auto& [path, contents] : expected) {
            std::error_code ec;
            if (!fs::is_regular_file(archived(1, path), ec) || readFile(archived(1, path)) != contents)
                missing += path + "\n";
        }
        return missing;
    }
};

} // namespace

// Random creations, appends, rewrites, renames, folders moved in and out,
// deletions and young files: after every burst the settled files are
// archived as they are, no young file ever is, and a last full pass finds
// nothing the incremental ones missed.
TEST_F(IncrementalPassTest, IncrementalPassesArchiveWhatAFullPassWould) {
    const fs::path outside = tmp.makeFolder("outside");
    watch();
    // The suite runs 200 operations; TOLV_EQUIVALENCE_BURSTS and
    // TOLV_EQUIVALENCE_SEED run more, or others, by hand.
    const char* bursts = std::getenv("TOLV_EQUIVALENCE_BURSTS");
    const char* seed = std::getenv("TOLV_EQUIVALENCE_SEED");
    std::mt19937 rng(seed ? static_cast<unsigned>(std::stoul(seed)) : 20261208u);
    std::map<std::string, std::string> everSettled; // what the archive must hold: latest settled content
    std::vector<std::string> young;
    int made = 0;
    auto pick = [&](const std::map<std::string, std::string>& files) {
        auto it = files.begin();
        std::advance(it, rng() % files.size());
        return it->first;
    };
    for (int burst = 0, last = bursts ? std::stoi(bursts) : 10; burst < last; ++burst) {
        for (int op = 0; op < 20; ++op) {
            const auto present = settledFiles(src[1]);
            const std::string folder = "d" + std::to_string(rng() % 4) + (rng() % 2 ? "/e" + std::to_string(rng() % 3) : "");
            switch (present.empty() ? 0 : rng() % 11) {
            case 0: writeSettled(src[1] / folder / ("new " + std::to_string(++made) + ".jpg"), std::to_string(rng())); break;
            case 1: { // append
                const std::string name = pick(present);
                writeSettled(src[1] / name, present.at(name) + "+more");
                break;
            }
            case 2: writeSettled(src[1] / pick(present), "rewritten " + std::to_string(rng())); break;
            case 3: { // rename within the tree
                const fs::path to = src[1] / folder / ("renamed " + std::to_string(++made) + ".jpg");
                fs::create_directories(to.parent_path());
                fs::rename(src[1] / pick(present), to);
                break;
            }
            case 4: { // a folder moved in, with a tree inside
                const fs::path tree = outside / ("card " + std::to_string(++made));
                writeSettled(tree / "a.jpg", "a" + std::to_string(made));
                writeSettled(tree / "deep/er/b.jpg", "b" + std::to_string(made));
                fs::create_directories(src[1] / folder);
                fs::rename(tree, src[1] / folder / tree.filename());
                break;
            }
            case 5: { // a folder moved out
                const fs::path gone = src[1] / fs::path(pick(present)).parent_path();
                if (gone != src[1]) fs::rename(gone, outside / ("out " + std::to_string(++made)));
                break;
            }
            case 6: fs::remove(src[1] / pick(present)); break;
            case 7: {
                const std::string name = folder + "/young " + std::to_string(++made) + ".jpg";
                writeYoung(src[1] / name, "young");
                young.push_back(name);
                break;
            }
            case 8: // many photos into one flat folder
                for (int i = 0; i < 40; ++i)
                    writeSettled(src[1] / "flat" / ("burst " + std::to_string(++made) + ".jpg"), std::to_string(rng()));
                break;
            case 9: { // renamed within its own folder
                const fs::path from = src[1] / pick(present);
                fs::rename(from, from.parent_path() / ("same folder " + std::to_string(++made) + ".jpg"));
                break;
            }
            case 10: { // rewritten in place several times
                const std::string name = pick(present);
                for (int i = 0; i < 3; ++i) writeSettled(src[1] / name, "take " + std::to_string(i) + " " + std::to_string(rng()));
                break;
            }
            }
        }
        const auto now = settledFiles(src[1]);
        for (const auto& [path, contents] : now) everSettled[path] = contents;
        ASSERT_TRUE(waitUntil([&] { return notArchived(now).empty(); }, 20s)) << "burst " << burst << ":\n" << notArchived(now);
    }
    scan(); // the full pass
    ASSERT_TRUE(waitUntil([&] { return !w[1]->_insideFoundItemLoop(); }));
    ASSERT_TRUE(waitIdle());
    std::map<std::string, std::string> archive;
    for (auto& [path, contents] : testing_support::fileContents(dest / "Main")) archive[path] = contents;
    EXPECT_EQ(archive, everSettled);
    for (const auto& name : young) EXPECT_FALSE(fs::exists(archived(1, name))) << name;
}

// The events name the new photo: its folder of thousands is neither listed
// nor handed to rsync, and a rename there is one name as well.
TEST_F(IncrementalPassTest, OneNewPhotoInALargeFlatFolderIsTheOneNameRsyncIsGiven) {
    for (int i = 0; i < 3000; ++i) writeSettled(src[1] / "DCIM" / (std::to_string(i) + ".jpg"), std::to_string(i));
    watch(); // the full pass after switching on archives them
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "DCIM/2999.jpg")); }, 60s));
    ASSERT_TRUE(waitIdle());
    testing_support::RecordingToolInPath rsync(tmp, "rsync", platform::SearchPath::find("rsync").value(),
                                               tmp.path() / "record");
    auto namesGiven = [&] {
        std::vector<std::string> names;
        for (const auto& line : rsync.lines())
            for (auto at = line.find(" ./"); at != std::string::npos; at = line.find(" ./", at + 1))
                names.push_back(line.substr(at + 1, line.find(".jpg", at) + 4 - at - 1));
        return names;
    };
    writeSettled(src[1] / "DCIM/new photo.jpg", "new");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "DCIM/new photo.jpg")); }, 20s));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(namesGiven(), std::vector<std::string>{"./DCIM/new photo.jpg"});

    fs::rename(src[1] / "DCIM/17.jpg", src[1] / "DCIM/renamed.jpg");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "DCIM/renamed.jpg")); }, 20s));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(namesGiven(), (std::vector<std::string>{"./DCIM/new photo.jpg", "./DCIM/renamed.jpg"}));
    EXPECT_EQ(readFile(archived(1, "DCIM/renamed.jpg")), "17");
}

// A photo written in place over seconds keeps its folder pending: each
// incremental pass finds it too young, and the settle follow-up takes it.
TEST_F(IncrementalPassTest, AFileStillBeingWrittenIsCopiedOnlyOnceItHasSettled) {
    PassRecorder recorder;
    watch();
    writeSettled(src[1] / "first.jpg", "1"); // the full pass after switching on
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "first.jpg")); }, 20s));
    const fs::path photo = src[1] / "card/photo.jpg";
    fs::create_directories(photo.parent_path());
    const size_t before = recorder.passes(1);
    {
        testing_support::SlowWriter writer(photo, 1000, std::chrono::milliseconds(20), 4);
        ASSERT_TRUE(waitUntil([&] { return recorder.passes(1) >= before + 2; }, 20s));
        EXPECT_FALSE(fs::exists(archived(1, "card/photo.jpg")));
    }
    ASSERT_TRUE(waitIdle());
    EXPECT_FALSE(fs::exists(archived(1, "card/photo.jpg")));
    // As if written 110 s ago: it settles at two whole minutes, in about 10 s.
    fs::last_write_time(photo, fs::file_time_type::clock::now() - std::chrono::seconds(110));
    const std::string written = readFile(photo);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "card/photo.jpg")); }, 40s));
    EXPECT_EQ(readFile(archived(1, "card/photo.jpg")), written);
}

TEST_F(IncrementalPassTest, DroppedEventsLeadToAFullPassThatMissesNothing) {
    watch();
    writeSettled(src[1] / "first/a.jpg", "a");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "first/a.jpg")); }, 20s));
    ASSERT_TRUE(waitIdle());
    // Written while the stream is told it lost events for another folder only.
    writeSettled(src[1] / "unseen/b.jpg", "b");
    char buffer[watcher::kPathBufferSize] = {};
    std::snprintf(buffer, sizeof buffer, "%s", src[1].c_str());
    testing::internal::CaptureStdout();
    watcher::fsevents_callback(nullptr, {buffer, w[1].get()},
                               {{(src[1] / "first").string(), platform::FileEventStream::KernelDropped}});
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(waitUntil([&] { return fs::exists(archived(1, "unseen/b.jpg")); }, 20s));
}

// An incremental pass looks only where events were: a file nobody told it
// about waits for a full pass, which the periodic timer brings, and that
// pass deletes what has grown old, without any event.
TEST_F(IncrementalPassTest, ThePeriodicFullPassArchivesAndDeletesWithoutEvents) {
    testing_support::ChildrenInTheFuture future(10);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 5);
    prefs().setObject(kPrefFullPassIntervalMinutes, platform::Value(0.05)); // 3 s
    watch();
    // The first pass after switching on walks the whole folder.
    writeSettled(src[1] / "first.jpg", "1");
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(src[1] / "first.jpg"); }, 20s));
    // Copied by an incremental pass, deleted by the next periodic one.
    writeSettled(src[1] / "old/a.jpg", "a");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, "old/a.jpg")); }, 20s));
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(src[1] / "old/a.jpg"); }, 10s));
    EXPECT_EQ(readFile(archived(1, "old/a.jpg")), "a");
}
