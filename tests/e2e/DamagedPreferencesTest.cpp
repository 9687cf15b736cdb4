// A damaged preference file: a look (--status, --check-destination) leaves
// it byte for byte as it was and says so; a start keeps it aside and keeps
// saying the settings were lost, on every row and in --status, until the
// folders are chosen again.

#include "support/AppProcess.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;

namespace {

using testing_support::AppProcess;
using testing_support::TempHome;
using namespace std::chrono_literals;

using testing_support::Finished;
using testing_support::runToEnd;

int keptAside(const fs::path& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += entry.path().filename().string().find(".damaged-") != std::string::npos;
    return n;
}

int errorLines(const std::string& output, const std::string& text) {
    int n = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        n += line.find("ERROR: ") != std::string::npos && line.find(text) != std::string::npos;
    return n;
}

bool says(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

} // namespace

TEST(DamagedPreferencesTest, ALookChangesNothingAndAStartStaysLoudUntilTheFoldersAreChosen) {
    const std::string whole = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>prefCameraFolderPathFormat1</key><string>/photos/Main</string>
<key>prefDaysToSaveLogs</key><integer>30</integer></dict></plist>
)";
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::vector<Case> cases{{"garbled", "<plist><dict><key>pref\x01\xff</dict>>>"},
                                  {"truncated", whole.substr(0, whole.size() / 2)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const fs::path file = home.writeFile("home/.config/com.orvane.tolv-archiver.plist", c.bytes);
        const fs::path folder = file.parent_path();

        for (const auto& look : {std::vector<std::string>{"--status"}, {"--status", "--json"}, {"--check-destination"}}) {
            const Finished seen = runToEnd(look);
            EXPECT_EQ(seen.status, 1) << look.front() << ": " << seen.output;
            if (look.front() == "--status") EXPECT_TRUE(says(seen.output, "preferences damaged")) << seen.output;
            EXPECT_EQ(testing_support::readFile(file), c.bytes) << look.front() << " changed the file";
            EXPECT_EQ(keptAside(folder), 0);
        }

        {
            AppProcess running(AppProcess::application());
            EXPECT_TRUE(running.waitForOutput("ERROR: preferences damaged")) << running.output();
            ASSERT_TRUE(running.waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << running.output();
            const Finished status = runToEnd({"--status"});
            EXPECT_EQ(status.status, 1) << status.output;
            EXPECT_TRUE(says(status.output, "Error: preferences damaged")) << status.output;
            // Told once for every folder, beside the start's own line, not once a row.
            EXPECT_EQ(errorLines(running.output(), "preferences damaged"), 2) << running.output();
            EXPECT_EQ(runToEnd({"--quit"}).status, 0);
            EXPECT_EQ(running.waitForExit(30s), 0) << running.output();
        }
        EXPECT_EQ(keptAside(folder), 1) << "the start keeps the user's only copy aside";

        // Later looks and starts still say so, until a folder is chosen again.
        EXPECT_EQ(runToEnd({"--status"}).status, 1);
        const fs::path source = home.makeFolder("photos/Main");
        const Finished chosen = runToEnd({"--set-source", "1", source.string()});
        EXPECT_EQ(chosen.status, 0) << chosen.output;
        const Finished after = runToEnd({"--status"});
        EXPECT_FALSE(says(after.output, "preferences damaged")) << after.output;
    }
}
