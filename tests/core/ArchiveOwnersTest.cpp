#include "core/ArchiveOwners.h"

#include "core/ArchiveDestination.h"
#include "core/RemoteArchive.h"
#include "core/Settings.h"
#include "platform/preferences/UserDefaults.h"
#include "support/ChosenDestination.h"
#include "support/TempHome.h"
#include "pass/FolderChoice.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using platform::UserDefaults;
using platform::Value;
using testing_support::TempHome;

namespace {

DestinationState passInto(const std::string& archiveName, int slot) {
    return ArchiveDestination::locate(Settings::readForPass(), ArchiveClaim{archiveName, slot});
}

// Another user, or another machine, with its own preferences: another station.
void becomeStation(const std::string& id) {
    UserDefaults::standard().setObject(RemoteArchive::kStationIdKey, Value(id));
}

} // namespace

// Two stations share one backup disk, each with a source folder named Main:
// the first to archive owns "Main"; the second is refused when it chooses
// its folder and at its pass, and nothing of the first's is touched.
TEST(ArchiveOwnersTest, TheFirstStationToArchiveOwnsTheFolderOnTheDisk) {
    TempHome home;
    const fs::path disk = home.makeFolder("disk");
    testing_support::chooseDestination(disk);
    const fs::path copy = home.writeFile("disk/Main/101/IMG_0001.JPG", "first station's photo");

    becomeStation("station-A");
    const DestinationState first = passInto("Main", 1);
    EXPECT_TRUE(first.ready()) << first.problem << " (an archive made before owners is claimed by its first pass)";
    EXPECT_TRUE(passInto("Main", 1).ready()) << "its own claim holds nothing back";
    EXPECT_FALSE(ArchiveOwners::refusal(disk, "Main"));

    becomeStation("station-B");
    const DestinationState second = passInto("Main", 2);
    EXPECT_FALSE(second.ready());
    EXPECT_TRUE(RemoteArchive::isClaimProblem(second.problem)) << second.problem;
    EXPECT_NE(second.problem.find("(slot 1)"), std::string::npos) << second.problem;
    const auto refused = ArchiveOwners::refusal(disk, "Main");
    ASSERT_TRUE(refused);
    const fs::path main = home.makeFolder("photos/Main");
    EXPECT_EQ(FolderChoice::choose(2, main.string(), CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(2))),
              refused);
    EXPECT_TRUE(passInto("Web", 2).ready()) << "a folder of another name is its own";
    EXPECT_EQ(testing_support::readFile(copy), "first station's photo");

    // A record a crash left empty holds nothing: the next station takes it.
    const fs::path record = disk / ".tolv-archiver-destination/owners/Web";
    { std::ofstream(record, std::ios::trunc); }
    becomeStation("station-C");
    EXPECT_TRUE(passInto("Web", 3).ready());
    EXPECT_EQ(testing_support::readFile(record).rfind("station-C 3 ", 0), 0u) << testing_support::readFile(record);
}
