// The faults a photo station meets, each with both engines and deletion on:
// whatever happens, no original goes without an identical copy in the
// chosen archive, nothing outside the source is read or deleted, nothing is
// written outside the archive, no copy is left half written under its final
// name, and the slot's last pass says whether something went wrong.
#include "watch/WatcherTestFixture.h"

#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/HangingShare.h"
#include "support/RecordCheck.h"
#include "support/ScopedMount.h"
#include "pass/PassResult.h"

#include <fstream>
#include <set>

using namespace watch_test;
using testing_support::FileContents;
using testing_support::fileContents;
using testing_support::ScopedMount;

namespace {

class StationFaultsTest : public WatcherTest {
public: // for the cases of the table
    using WatcherTest::prefs;
    using WatcherTest::scan;
    using WatcherTest::w;
    using WatcherTest::waitIdle;
    // One case's own source ("<case>/Main"), destination and a folder
    // outside both that nothing may touch.
    struct Station {
        fs::path root, source, destination, outside;
        FileContents photos;                                   // as first written
        std::map<std::string, std::set<std::string>> versions; // every content a photo had
        std::unique_ptr<ScopedMount> mount;
        fs::path archive() const { return destination / "Main"; }
    };

    Station station(const std::string& name) {
        Station s;
        s.root = tmp.makeFolder(name);
        s.source = tmp.makeFolder(name + "/Main");
        s.destination = s.root / "Backup";
        s.outside = tmp.makeFolder(name + "/Outside");
        writeFile(s.outside / "elsewhere.jpg", "not ours");
        return s;
    }

    void add(Station& s, const std::string& relative, const std::string& contents) {
        writeFile(s.source / relative, contents);
        s.photos[relative] = contents;
        s.versions[relative].insert(contents);
    }

    void use(Station& s) {
        fs::create_directories(s.destination);
        testing_support::chooseDestination(s.destination);
        choose(1, s.source);
        prefs().synchronize();
    }

    std::optional<PassResult> pass() {
        scan();
        EXPECT_TRUE(waitIdle());
        return PassResult::load(1);
    }

    void expectSafe(const Station& s) {
        const FileContents now = fileContents(s.source);
        for (const auto& [relative, contents] : s.photos) {
            if (now.count(relative)) continue;
            // Gone from the source: its last version is in the archive.
            const auto copy = fileContents(s.archive()).find(relative);
            ASSERT_NE(copy, fileContents(s.archive()).end()) << relative << " was deleted without a copy";
        }
        for (const auto& [relative, contents] : fileContents(s.archive())) {
            ASSERT_TRUE(s.versions.count(relative)) << relative << ": not a photo of the source";
            EXPECT_TRUE(s.versions.at(relative).count(contents)) << relative << " is half written";
        }
        EXPECT_EQ(fileContents(s.outside), (FileContents{{"elsewhere.jpg", "not ours"}}));
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(s.destination, ec)) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == "Main" || name == kKeptFolderName || name == ".tolv-archiver-destination" ||
                        name == ArchiveRecord::kFolderName)
                << name;
        }
        // Whatever happened, the record says nothing that is not so.
        EXPECT_EQ(testing_support::recordComplaints(s.archive()), "");
    }
};

TEST_F(StationFaultsTest, NoFaultLosesOrMisplacesAPhotoWithEitherEngine) {
    makeWatcher(1);
    testing_support::ChildrenInTheFuture future(3); // every photo counts as old enough to go
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    struct Fault {
        std::string name;
        // Runs the case; the last pass's error ("" for none, "?" for one
        // that depends on when the fault came), or "skip: <why>".
        std::function<std::string(StationFaultsTest&, Station&)> run;
    };
    const auto photos = [](StationFaultsTest& t, Station& s, int n, std::size_t bytes) {
        for (int i = 0; i < n; ++i)
            t.add(s, "d" + std::to_string(i % 3) + "/img" + std::to_string(i) + ".jpg",
                  std::string(bytes, static_cast<char>('a' + i % 26)));
    };
    const std::vector<Fault> faults{
        {"odd names",
         [](StationFaultsTest& t, Station& s) {
             for (const std::string& name : std::vector<std::string>{
                      "new\nline.jpg", "-dash.jpg", "--rsync-like.jpg", std::string("\xff\xfe latin1 \xe9.jpg"),
                      std::string(251, 'n') + ".jpg", "*glob?[ab]{c,d}.jpg", "trailing  ", " leading.jpg",
                      "quote'\"$(x).jpg", "Ünïcødé/ж.jpg"})
                 t.add(s, name, "photo " + name);
             t.use(s);
             t.pass();
             EXPECT_TRUE(fileContents(s.source).empty()) << "each had its copy, so each went";
             return std::string();
         }},
        {"links out of the source",
         [photos](StationFaultsTest& t, Station& s) {
             photos(t, s, 3, 100);
             fs::create_symlink(s.outside / "elsewhere.jpg", s.source / "link.jpg");
             fs::create_directory_symlink(s.outside, s.source / "linked folder");
             t.use(s);
             t.pass();
             EXPECT_TRUE(fs::is_symlink(s.source / "link.jpg")) << "a link is not a photo";
             return std::string();
         }},
        {"rewritten in place between passes",
         [](StationFaultsTest& t, Station& s) {
             t.add(s, "same time.jpg", "AAAA");
             t.add(s, "new time.jpg", "CCCC");
             t.use(s);
             t.prefs().setBool(kPrefEnableDeleteOldSourceImages, false);
             t.pass();
             t.prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
             // Same size: once keeping the time (rsync's quick check sees no
             // change), once with a new one.
             const auto kept = fs::last_write_time(s.source / "same time.jpg");
             writeFile(s.source / "same time.jpg", "BBBB");
             fs::last_write_time(s.source / "same time.jpg", kept);
             writeFile(s.source / "new time.jpg", "DDDD");
             fs::last_write_time(s.source / "new time.jpg", kept + std::chrono::seconds(5));
             s.versions["same time.jpg"].insert("BBBB");
             s.versions["new time.jpg"].insert("DDDD");
             t.pass();
             EXPECT_EQ(testing_support::readFile(s.source / "same time.jpg"), "BBBB") << "copied after the pass";
             EXPECT_EQ(testing_support::readFile(s.archive() / "same time.jpg"), "BBBB")
                 << "rewritten with its size and time kept, it is copied all the same";
             EXPECT_FALSE(fs::exists(s.source / "new time.jpg"));
             EXPECT_EQ(testing_support::readFile(s.archive() / "new time.jpg"), "DDDD");
             return std::string();
         }},
        {"name reused three times",
         [](StationFaultsTest& t, Station& s) {
             t.use(s);
             for (const std::string contents : {"first card", "second card", "third card"}) {
                 writeFile(s.source / "IMG_0001.JPG", contents);
                 s.versions["IMG_0001.JPG"].insert(contents);
                 t.pass();
                 EXPECT_FALSE(fs::exists(s.source / "IMG_0001.JPG"));
             }
             s.photos["IMG_0001.JPG"] = "third card";
             std::multiset<std::string> kept;
             for (const auto& [path, contents] : fileContents(s.destination / kKeptFolderName)) kept.insert(contents);
             EXPECT_EQ(kept, (std::multiset<std::string>{"first card", "second card"}));
             return std::string();
         }},
        {"read-only destination",
         [photos](StationFaultsTest& t, Station& s) {
             std::string why;
             s.mount = ScopedMount::tmpfs(s.destination, &why);
             if (!s.mount) return "skip: " + why;
             photos(t, s, 5, 100);
             t.use(s);
             if (!s.mount->remountReadOnly()) return std::string("skip: the tmpfs cannot be made read-only");
             t.pass();
             EXPECT_EQ(fileContents(s.source), s.photos);
             return std::string("destination read-only");
         }},
        {"destination out of space",
         [photos](StationFaultsTest& t, Station& s) {
             std::string why;
             s.mount = ScopedMount::tmpfs(s.destination, &why, "size=1m");
             if (!s.mount) return "skip: " + why;
             photos(t, s, 40, 64 * 1024);
             t.use(s);
             t.pass();
             EXPECT_FALSE(fileContents(s.source).empty());
             return std::string("destination full");
         }},
        {"destination out of inodes",
         [photos](StationFaultsTest& t, Station& s) {
             std::string why;
             s.mount = ScopedMount::tmpfs(s.destination, &why, "size=16m,nr_inodes=24");
             if (!s.mount) return "skip: " + why;
             photos(t, s, 60, 100);
             t.use(s);
             t.pass();
             EXPECT_FALSE(fileContents(s.source).empty());
             return std::string("destination full");
         }},
        {"destination renamed in the middle of a pass",
         [photos](StationFaultsTest& t, Station& s) {
             photos(t, s, 300, 4096);
             t.use(s);
             t.scan();
             waitUntil([&] { return fileContents(s.archive()).size() >= 3 || !t.w[1]->_insideFoundItemLoop(); });
             const fs::path renamed = s.root / "Backup renamed";
             fs::rename(s.destination, renamed);
             EXPECT_TRUE(t.waitIdle());
             EXPECT_FALSE(fs::exists(s.destination)) << "nothing made again where the archive was";
             fs::rename(renamed, s.destination);
             // A pass that ended before the rename has nothing to tell.
             return std::string("?");
         }},
    };
    for (bool fast : {false, true}) {
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
        prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 1);
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.name + (fast ? ", fast" : ", per file"));
            Station s = station(fault.name.substr(0, 12) + (fast ? "-fast" : "-each"));
            const std::string expected = fault.run(*this, s);
            if (expected.starts_with("skip: ")) {
                std::printf("skipped %s: %s\n", fault.name.c_str(), expected.c_str() + 6);
                continue;
            }
            expectSafe(s);
            const auto last = PassResult::load(1);
            ASSERT_TRUE(last.has_value());
            if (expected != "?") {
                EXPECT_EQ(last->error, expected);
            } else if (fileContents(s.source).size() == s.photos.size()) {
                EXPECT_NE(last->error, "") << "what was left is told";
            }
        }
    }
}

// A card-reader's FAT disk keeps times to two seconds: a pass over photos
// that are all archived copies nothing and counts nothing as failed.
TEST_F(StationFaultsTest, ACoarseTimeDestinationGetsNoCopyTwice) {
    makeWatcher(1);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, false);
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        Station s = station(fast ? "fat-fast" : "fat-each");
        std::string why;
        auto card = testing_support::HangingShare::make(s.root / "card-backing", s.destination, &why,
                                                        testing_support::HangingShare::Times::TwoSeconds);
        if (!card) GTEST_SKIP() << why;
        for (int i = 0; i < 12; ++i) {
            add(s, "DCIM/IMG_" + std::to_string(i) + ".JPG", "photo " + std::to_string(i));
            // Odd seconds with a fraction, which the card cannot keep.
            fs::last_write_time(s.source / ("DCIM/IMG_" + std::to_string(i) + ".JPG"),
                                fs::file_time_type::clock::now() - std::chrono::seconds(2 * i + 1) -
                                    std::chrono::milliseconds(300));
        }
        use(s);
        auto first = pass();
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->copied, 12);
        EXPECT_EQ(fileContents(s.archive()), s.photos);
        auto second = pass();
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(second->copied, 0);
        EXPECT_EQ(second->failed, 0);
        EXPECT_EQ(second->error, "");
    }
}

} // namespace
