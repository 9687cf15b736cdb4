#include "core/ArchiveDestination.h"

#include "core/DestinationMarker.h"
#include "core/MyAliasKit.h"
#include "platform/preferences/UserDefaults.h"
#include "support/ChosenDestination.h"
#include "support/ScopedMount.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;
using platform::UserDefaults;
using platform::Value;
using testing_support::ScopedMount;
using testing_support::TempHome;

namespace {

// Spelled out: these names are on users' disks and in their preferences.
const std::string kMarker = ".tolv-archiver-destination";
const std::string kIdKey = "prefDestinationArchiveID";
const std::string kPathKey = "prefDestinationFolderPathFormat1";
const std::string kValidKey = "prefDestinationFolderPathAliasDataIsValidFormat1";
const std::string kAliasKey = "prefDestinationFolderPathAliasDataFormat1";
const std::string kForeign = "destination is not the chosen archive";
const std::string kNotMounted = "destination not mounted";
const std::string kMissing = "destination missing";

class ArchiveDestinationTest : public ::testing::Test {
protected:
    UserDefaults& prefs() { return UserDefaults::standard(); }
    fs::path dest() const { return fs::canonical(home_.path()) / "dest"; }
    std::string storedId() { return prefs().stringForKey(kIdKey).value_or(""); }
    std::string markerId() { return DestinationMarker::read(dest()).id; }
    void writeMarker(const std::string& id) { ASSERT_TRUE(DestinationMarker::write(dest(), id, nullptr)); }
    void garble() {
        fs::remove_all(dest() / kMarker);
        std::ofstream(dest() / kMarker) << std::string("\0\xff\x13garbage", 10);
    }
    void freshDest() { fs::remove_all(dest()), fs::create_directory(dest()); }
    // A destination stored before markers existed: its path, maybe its alias data, no ID.
    void storeWithoutId(bool withAlias) {
        prefs().setObject(kPathKey, Value(dest().string()));
        prefs().setBool(kValidKey, true);
        prefs().setObject(kAliasKey, withAlias ? Value(*MyAliasKit::aliasDataForPath(dest().string())) : Value());
        prefs().removeObjectForKey(kIdKey);
    }

    TempHome home_;
};

TEST_F(ArchiveDestinationTest, ChoosingMarksTheFolderAndKeepsAnArchiveItsId) {
    fs::create_directory(dest());
    ASSERT_EQ(ArchiveDestination::choose(dest().string()), std::nullopt);
    ASSERT_TRUE(fs::is_directory(dest() / kMarker));
    const std::string first = storedId();
    EXPECT_EQ(markerId(), first);

    ASSERT_EQ(ArchiveDestination::choose(dest().string()), std::nullopt);
    EXPECT_EQ(storedId(), first);
    EXPECT_EQ(markerId(), first);

    // A folder whose marker's record cannot be written cannot be the archive.
    home_.writeFile("blocked/" + kMarker + "/archive.plist/keep", "k");
    EXPECT_NE(ArchiveDestination::choose((home_.path() / "blocked").string()), std::nullopt);
    EXPECT_EQ(storedId(), first);

    garble();
    ASSERT_EQ(ArchiveDestination::choose(dest().string()), std::nullopt);
    EXPECT_NE(storedId(), first);
    EXPECT_EQ(markerId(), storedId());
}

TEST_F(ArchiveDestinationTest, AChosenDestinationIsReadyOnlyWithItsOwnMarker) {
    const struct {
        const char* name;
        std::function<void()> afterChoosing;
        std::string problem;
    } cases[] = {
        {"its marker", [] {}, ""},
        {"another archive's marker", [this] { writeMarker(DestinationMarker::newId()); }, kForeign},
        {"a damaged marker", [this] { garble(); }, kForeign},
        {"content, no marker", [this] { fs::remove_all(dest() / kMarker), fs::create_directory(dest() / "DCIM"); },
         kForeign},
        {"empty, no marker", [this] { fs::remove_all(dest() / kMarker); }, kNotMounted},
        {"gone, no alias data", [this] { fs::remove_all(dest()), prefs().removeObjectForKey(kAliasKey); }, kMissing},
        {"nothing chosen", [this] { prefs().removeObjectForKey(kPathKey); }, kMissing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        freshDest();
        testing_support::chooseDestination(dest());
        c.afterChoosing();
        const DestinationState located = ArchiveDestination::locate();
        EXPECT_EQ(located.problem, c.problem) << located.detail;
        EXPECT_EQ(located.ready() ? located.path : "", c.problem.empty() ? dest().string() : "");
        EXPECT_EQ(ArchiveDestination::inspect().problem, c.problem);
        EXPECT_EQ(ArchiveDestination::isDestinationProblem(c.problem), !c.problem.empty());
    }
    EXPECT_TRUE(ArchiveDestination::isDestinationProblem("destination cannot be marked as the archive"));
    EXPECT_FALSE(ArchiveDestination::isDestinationProblem("1 copy failed"));
}

TEST_F(ArchiveDestinationTest, AnOlderDestinationIsAdoptedOnlyWhenClearlyTheArchive) {
    // A source at the root has no name to find; the last slot's is a folder's.
    prefs().setObject("prefCameraFolderPathFormat1", Value("/"));
    prefs().setObject("prefCameraFolderPathFormat3", Value("/media/card/Web Exports/"));
    enum Marker { None, Valid, Damaged };
    const struct {
        const char* name;
        bool withAlias;
        const char* inside; // a folder made in the destination, or ""
        Marker marker;
        std::string problem;
    } cases[] = {
        {"the folder its alias data names", true, "", None, ""},
        {"a folder named after a source", false, "Web Exports", None, ""},
        {"the kept versions", false, ".tolv-archiver-kept", None, ""},
        {"a marker already there", false, "", Valid, ""},
        {"a damaged marker", true, "", Damaged, kForeign},
        {"an empty folder", false, "", None, kNotMounted},
        {"a folder of something else", false, "Documents", None, kForeign},
        {"a folder named like a source's parent", false, "card", None, kForeign},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        freshDest();
        if (*c.inside) fs::create_directory(dest() / c.inside);
        const std::string existing = c.marker == Valid ? DestinationMarker::newId() : "";
        if (c.marker == Valid) writeMarker(existing);
        if (c.marker == Damaged) garble();
        storeWithoutId(c.withAlias);
        const Value alias = prefs().objectForKey(kAliasKey);

        EXPECT_EQ(ArchiveDestination::inspect().problem, c.problem);
        EXPECT_EQ(fs::exists(dest() / kMarker), c.marker != None);
        EXPECT_EQ(storedId(), "");
        EXPECT_EQ(prefs().objectForKey(kAliasKey), alias);

        // Adopted: marked, its ID stored and its moves followed; refused: nothing written.
        const bool adopted = c.problem.empty();
        EXPECT_EQ(ArchiveDestination::locate().problem, c.problem);
        EXPECT_EQ(storedId().empty(), !adopted);
        EXPECT_EQ(markerId(), c.marker == Valid ? existing : storedId());
        std::string resolved;
        MyAliasKit::resolveAliasFromData(prefs().objectForKey(kAliasKey).data(), &resolved);
        EXPECT_EQ(resolved, adopted || c.withAlias ? dest().string() : "");
    }
}

TEST_F(ArchiveDestinationTest, AnUnmountedDisksFolderIsNeverTakenForTheArchive) {
    std::string why;
    auto disk = ScopedMount::tmpfs(dest(), &why);
    if (!disk) GTEST_SKIP() << "cannot mount here (" << why << ")";

    // A mounted disk's root chosen before markers existed is adopted.
    storeWithoutId(false);
    EXPECT_TRUE(ArchiveDestination::inspect().ready());
    EXPECT_FALSE(fs::exists(dest() / kMarker));
    ASSERT_TRUE(ArchiveDestination::locate().ready());
    const std::string id = storedId();
    EXPECT_EQ(markerId(), id);

    // Unmounted, it leaves an empty folder on the disk below.
    ASSERT_TRUE(disk->unmount());
    for (bool withId : {false, true}) {
        SCOPED_TRACE(withId ? "chosen with its marker" : "chosen before markers existed");
        prefs().setObject(kIdKey, withId ? Value(id) : Value());
        EXPECT_EQ(ArchiveDestination::inspect().problem, kNotMounted);
        EXPECT_EQ(ArchiveDestination::locate().problem, kNotMounted);
        EXPECT_FALSE(fs::exists(dest() / kMarker));
        EXPECT_EQ(storedId(), withId ? id : "");
    }

    // Another disk mounted in its place, with photos of its own, is not the archive.
    auto other = ScopedMount::tmpfs(dest(), &why);
    ASSERT_TRUE(other) << why;
    fs::create_directory(dest() / "DCIM");
    EXPECT_EQ(ArchiveDestination::locate().problem, kForeign);
    EXPECT_FALSE(fs::exists(dest() / kMarker));
    EXPECT_EQ(storedId(), id);
}

} // namespace
