// Which folders the slots may hold together, with real folders and links.
#include "pass/FolderSlotRules.h"

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

class FolderSlotRulesTest : public ::testing::Test {
protected:
    testing_support::TempHome tmp;
    fs::path root = tmp.path();

    platform::UserDefaults& prefs() { return platform::UserDefaults::standard(); }

    void hold(int slot, const fs::path& folder, std::optional<bool> enabled = std::nullopt) {
        auto p = CommonHeader::slotParameters(slot);
        prefs().setObject(p[sPrefCameraFolderPathKey], folder.string());
        if (enabled) prefs().setBool(p[sPrefCameraFolderPathEnableKey], *enabled);
    }
    bool refused(int slot, const fs::path& folder, FolderSlotRules::Others others = FolderSlotRules::Others::All) {
        return FolderSlotRules::refusal(slot, folder.string(), others).has_value();
    }
};

TEST_F(FolderSlotRulesTest, ASourceMayNotShareANameOrOverlapAnotherSlot) {
    const fs::path backup = tmp.makeFolder("Backup");
    hold(0, backup);
    hold(2, tmp.makeFolder("cardA/DCIM"));
    hold(3, tmp.makeFolder("shoot/Web"), false);
    fs::create_directory_symlink(backup / "inside", root / "link-into-backup");
    tmp.makeFolder("Backup/inside");

    struct Case {
        const char* what;
        fs::path folder;
        bool refusedWhenChosen;
        bool refusedForAPass; // a switched-off slot does not count
    } cases[] = {
        {"a fresh name", tmp.makeFolder("cardB/Main"), false, false},
        {"the name of slot 2's folder", tmp.makeFolder("cardB/DCIM"), true, true},
        {"the name in another case", tmp.makeFolder("cardC/dcim"), false, false},
        {"the name of switched-off slot 3", tmp.makeFolder("other/Web"), true, false},
        {"inside the destination", tmp.makeFolder("Backup/Main"), true, true},
        {"inside it through a link", root / "link-into-backup", true, true},
        {"holding the destination", root, true, true},
        {"beside it with a longer name", tmp.makeFolder("Backup2"), false, false},
        {"inside slot 2's folder", tmp.makeFolder("cardA/DCIM/100CANON"), true, true},
        {"named like the kept folder", tmp.makeFolder("x/" + kKeptFolderName), true, true},
        {"named like the archive's marker", tmp.makeFolder("y/.tolv-archiver-destination"), true, true},
        {"with {} in its path", tmp.makeFolder("a{}b/Main"), true, true},
    };
    const std::string realBackup = fs::canonical(backup).string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(refused(1, c.folder), c.refusedWhenChosen);
        // A pass judges the destination apart, by the real path its bounded look found.
        EXPECT_EQ(refused(1, c.folder, FolderSlotRules::Others::EnabledSources) ||
                      FolderSlotRules::besideDestination(c.folder.string(), realBackup),
                  c.refusedForAPass);
    }
    EXPECT_FALSE(FolderSlotRules::besideDestination((root / "Backup/Main").string(), "")) << "no real path, no look";
    // The message names the other slot.
    auto why = FolderSlotRules::refusal(1, (root / "cardB/DCIM").string(), FolderSlotRules::Others::All);
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("For Web"), std::string::npos) << *why;
}

TEST_F(FolderSlotRulesTest, TheDestinationMayNotOverlapASource) {
    hold(1, tmp.makeFolder("shoot/Main"));
    hold(2, tmp.makeFolder("shoot/Web"));
    EXPECT_FALSE(refused(0, tmp.makeFolder("Backup")));
    EXPECT_TRUE(refused(0, tmp.makeFolder("shoot/Main/Backup")));
    EXPECT_TRUE(refused(0, root / "shoot"));
    EXPECT_TRUE(refused(0, tmp.makeFolder("dest{}")));
    // Two sources of one name are the rows' concern, not the destination's.
    EXPECT_FALSE(refused(0, tmp.makeFolder("shoot2")));
}

TEST_F(FolderSlotRulesTest, TheCleanUpNeverWalksTheRootTheHomeOrAFolderHoldingTheDestination) {
    const fs::path home = tmp.home();
    fs::create_directories(home);
    struct Case {
        const char* what;
        std::string source;
        std::string archiveFolder;
        bool refused;
    } cases[] = {
        {"a source beside the destination", tmp.makeFolder("shoot/Main").string(), (root / "Backup/Main").string(),
         false},
        {"the root", "/", (root / "Backup/").string(), true},
        {"the home folder", home.string(), (root / "Backup/home").string(), true},
        {"the home folder as ~", "~", (root / "Backup/home").string(), true},
        {"a folder holding the destination", root.string(), (root / "Backup/x").string(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FolderSlotRules::cleanUpRefusal(c.source, c.archiveFolder).has_value(), c.refused);
    }
}

TEST(FolderSlotRulesPaths, TheArchiveNameIsTheLastComponent) {
    EXPECT_EQ(FolderSlotRules::archiveName("/p/Main/"), "Main");
    EXPECT_EQ(FolderSlotRules::archiveName("/p/Main"), "Main");
}

} // namespace
