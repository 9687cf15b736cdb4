#include "pass/ReplacedOriginals.h"

#include "platform/desktop/FileAttributes.h"
#include "support/FileContents.h"
#include "support/TempHome.h"
#include "engines/SynchronizationPolicy.h"

#include <gtest/gtest.h>

#include <thread>

namespace fs = std::filesystem;
using testing_support::TempHome;
using namespace std::chrono_literals;

// Which files rsync's quick check would pass by although they are not the
// file that was archived, and how their copies make way.
TEST(ReplacedOriginalsTest, OnlyAFileChangedAfterItsCopyAndUnlikeItIsFound) {
    struct Case {
        const char* name;
        const char* original;
        const char* copy;
        bool copyFirst; // the copy was written before this machine last changed the file
        bool found;
    };
    const std::vector<Case> cases{
        {"new card.jpg", "card B", "card A", true, true},
        {"same bytes.jpg", "same!!", "same!!", true, false},
        {"copied later.jpg", "card B", "card A", false, false}, // nothing says it changed since
        {"other size.jpg", "card B, longer", "card A", true, false}, // rsync sees that itself
    };
    TempHome home;
    const fs::path source = home.makeFolder("Main");
    const fs::path archive = home.makeFolder("Backup/Main");
    const auto when = fs::file_time_type::clock::now() - 1h;
    for (const Case& c : cases) {
        const auto write = [&](const fs::path& at, const char* contents) {
            home.writeFile(at.lexically_relative(home.path()).string(), contents);
            fs::last_write_time(at, when);
        };
        write(c.copyFirst ? archive / c.name : source / c.name, c.copyFirst ? c.copy : c.original);
        std::this_thread::sleep_for(20ms); // status-change times apart
        write(c.copyFirst ? source / c.name : archive / c.name, c.copyFirst ? c.original : c.copy);
    }
    const auto sameBytesChanged = platform::FileAttributes::ofItem(archive / "same bytes.jpg")->statusChangeDate;

    const auto now = std::chrono::system_clock::now();
    const auto found = ReplacedOriginals::find(source, archive, 5, 0, now);
    for (const Case& c : cases) {
        const bool listed = std::find(found.begin(), found.end(), (source / c.name).string()) != found.end();
        EXPECT_EQ(listed, c.found) << c.name;
    }
    // An identical copy is renewed, so it is not read again.
    EXPECT_GT(platform::FileAttributes::ofItem(archive / "same bytes.jpg")->statusChangeDate, sameBytesChanged);
    EXPECT_EQ(ReplacedOriginals::find(source, archive, 5, 0, now).size(), found.size());

    // The earlier copy goes where rsync keeps a copy it replaces, and no copy is lost.
    const platform::Date start = std::chrono::system_clock::now();
    const auto moved = ReplacedOriginals::keepCopiesAside(source, archive, found, start);
    EXPECT_EQ(moved, found);
    EXPECT_FALSE(fs::exists(archive / "new card.jpg"));
    const fs::path kept = SynchronizationPolicy::keptFolder(archive.string(), start);
    EXPECT_EQ(testing_support::readFile(kept / "new card.jpg"), "card A");
    EXPECT_TRUE(ReplacedOriginals::find(source, archive, 5, 0, now).empty()) << "nothing left that looks in place";
}
