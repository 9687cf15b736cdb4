// A station never looks healthy while photos wait: with no application
// running, with watching off after a start, and while the destination is
// away, --status counts the settled photos without a copy and exits 3, 0 or
// 1 as a monitoring script expects, and a refused pass does not hide the
// last one that archived.

#include "platform/preferences/UserDefaults.h"
#include "support/AppProcess.h"
#include "support/ChosenDestination.h"
#include "support/ScopedMount.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing_support::AppProcess;
using testing_support::Finished;
using testing_support::runToEnd;
using testing_support::TempHome;
using namespace std::chrono_literals;

namespace {

bool says(const Finished& f, const std::string& text) { return f.output.find(text) != std::string::npos; }

// Asks until the answer says the text, and returns the last answer.
Finished statusOnceItSays(const std::string& text, std::vector<std::string> options = {"--status"}) {
    Finished last;
    testing_support::waitUntil([&] { return says(last = runToEnd(options), text); }, 30s, 200ms);
    return last;
}

} // namespace

TEST(NothingWaitsUnseenTest, StatusCountsWhatWaitsWhetherNothingRunsNothingWatchesOrTheDestinationIsAway) {
    TempHome home;
    const fs::path source = home.makeFolder("Shoot/Main");
    // The backup disk: its own file system, unmounted as a disk is unplugged.
    std::string why;
    auto disk = testing_support::ScopedMount::tmpfs(home.makeFolder("Disk"), &why);
    if (!disk) GTEST_SKIP() << why;
    const fs::path dest = home.makeFolder("Disk/Backup");
    for (int i = 0; i < 5; ++i) home.writeFile("Shoot/Main/day one/img" + std::to_string(i) + ".jpg", "photo");
    auto& prefs = platform::UserDefaults::standard();
    testing_support::chooseDestination(dest, prefs);
    prefs.setObject("prefCameraFolderPathFormat1", source.string());
    prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
    prefs.setInteger("prefBackupSourceImagesAfterMinutesOld", 0);
    prefs.setInteger("prefMinimumFreeSpaceMB", 0); // a small disk
    prefs.synchronize();

    // Nothing runs: exit 3, and the photos are counted all the same.
    const Finished alone = runToEnd({"--status"});
    EXPECT_EQ(alone.status, 3) << alone.output;
    EXPECT_TRUE(says(alone, "Not watched · 5 waiting since")) << alone.output;
    EXPECT_TRUE(says(runToEnd({"--status", "--json"}), "\"waiting\":5"));

    // Started, watching is off: the row says so.
    AppProcess::Options options = AppProcess::application();
    options.environment["QT_QPA_PLATFORM"] = "offscreen";
    options.environment["DISPLAY"] = ":99";
    AppProcess app(options);
    ASSERT_TRUE(app.waitForOutput("Main window shown")) << app.output();
    const Finished unwatched = statusOnceItSays("Not watched · 5 waiting since");
    EXPECT_EQ(unwatched.status, 0) << "waiting, but not for longer than the alarm allows";

    // Watched, everything archived: all well.
    ASSERT_EQ(runToEnd({"--start-all"}).status, 0);
    const Finished watching = statusOnceItSays("Watching · last pass");
    EXPECT_EQ(watching.status, 0) << watching.output;
    EXPECT_FALSE(says(watching, "waiting since")) << watching.output;

    // The disk away, four more photos: counted, in error, the last archived pass kept.
    ASSERT_TRUE(disk->unmount());
    for (int i = 0; i < 4; ++i) home.writeFile("Shoot/Main/day two/img" + std::to_string(i) + ".jpg", "photo");
    const Finished away = statusOnceItSays("4 waiting since");
    EXPECT_EQ(away.status, 1) << away.output;
    EXPECT_TRUE(says(away, "Error: destination")) << away.output;
    const Finished json = statusOnceItSays("\"lastAttempt\":{", {"--status", "--json"});
    EXPECT_TRUE(says(json, "\"waiting\":4")) << json.output;
    EXPECT_TRUE(says(json, "\"lastArchived\":{\"copied\":5")) << json.output;

    EXPECT_EQ(runToEnd({"--quit", "--force"}).status, 0);
    EXPECT_TRUE(app.waitForExit(20s).has_value());
}
