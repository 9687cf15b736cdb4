// The autostart entry, written into a temporary home: what the desktop
// session reads at login.
#include "platform/desktop/Autostart.h"

#include "platform/runtime/Task.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

using platform::Autostart;
using testing_support::readFile;

TEST(AutostartTest, AnEntryIsWrittenValidAndRemovedAndOnlyOurs) {
    testing_support::TempHome home;
    const Autostart ours("tolv-archiver.desktop");
    const Autostart other("other.desktop");
    std::string error;
    ASSERT_TRUE(other.enable("Other", {"/bin/true"}, &error)) << error;
    EXPECT_FALSE(ours.enabled());
    EXPECT_TRUE(ours.disable(&error)) << "an absent entry is no error";

    ASSERT_TRUE(ours.enable("Tolv-Archiver", {"/opt/Tolv Archiver/run", "--start-all"}, &error)) << error;
    EXPECT_TRUE(ours.enabled());
    EXPECT_EQ(ours.file(), home.home() / ".config/autostart/tolv-archiver.desktop");
    EXPECT_NE(readFile(ours.file()).find("Exec=\"/opt/Tolv Archiver/run\" \"--start-all\"\n"), std::string::npos);
    if (std::filesystem::exists("/usr/bin/desktop-file-validate")) {
        const auto check = platform::Task::runCapturingOutput({"/usr/bin/desktop-file-validate", {ours.file().string()}});
        EXPECT_EQ(check.termination.status, 0) << check.standardOutput;
    }
    ASSERT_TRUE(ours.disable(&error)) << error;
    EXPECT_FALSE(ours.enabled());
    EXPECT_TRUE(other.enabled());
}

// Quotes, dollars, backticks and backslashes are escaped for the Exec key
// and again for the entry's string; % is doubled; a newline cannot stand.
TEST(AutostartTest, ExecWordsKeepEveryCharacter) {
    struct Case {
        std::string word, exec;
    } cases[] = {
        {"plain", R"("plain")"},
        {R"(say "hi")", R"("say \\"hi\\"")"},
        {"$HOME`x`", R"("\\$HOME\\`x\\`")"},
        {R"(back\slash)", R"("back\\\\slash")"},
        {"50%", R"("50%%")"},
        {"Ünïcödé ✓", R"("Ünïcödé ✓")"},
    };
    for (const auto& c : cases) EXPECT_EQ(Autostart::execLine({c.word}), c.exec) << c.word;
    EXPECT_EQ(Autostart::execLine({"two\nlines"}), "");
}
