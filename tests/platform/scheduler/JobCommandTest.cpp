// Which program the scheduler runs for ProgramArguments: the opened bundle's
// own program, found as macOS would find it, or the arguments as they stand.
// (The usual open form with its arguments is in UserSchedulerTest.)

#include "platform/scheduler/JobCommand.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::JobCommand;
using testing_support::TempHome;

namespace {

// <root>/<name>/Contents/MacOS/<program>, declared in Info.plist when declared.
fs::path makeBundle(const TempHome& tmp, const std::string& name, const std::string& program, bool declared) {
    tmp.writeFile(name + "/Contents/Info.plist",
                  std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>") +
                      (declared ? "<key>CFBundleExecutable</key><string>" + program + "</string>" : "") +
                      "<key>CFBundleIdentifier</key><string>test.bundle</string></dict></plist>\n");
    fs::permissions(tmp.writeFile(name + "/Contents/MacOS/" + program, "#!/bin/sh\n"), fs::perms::owner_all);
    return tmp.path() / name;
}

} // namespace

TEST(JobCommandTest, OpenOfABundleRunsItsProgramAndOtherArgumentsRunAsTheyStand) {
    TempHome tmp;
    const std::string declared = makeBundle(tmp, "Declared.app", "Runner", true).string();
    const std::string conventional = makeBundle(tmp, "Plain.app", "Plain", false).string();
    struct Case {
        const char* name;
        std::vector<std::string> items;
        std::vector<std::string> argv;
    } cases[] = {
        {"open without --args", {"/usr/bin/open", declared}, {declared + "/Contents/MacOS/Runner"}},
        {"open by name, bundle with a trailing slash",
         {"open", declared + "/", "--args", "a"},
         {declared + "/Contents/MacOS/Runner", "a"}},
        {"a bundle without CFBundleExecutable",
         {"/usr/bin/open", conventional, "--args", "a"},
         {conventional + "/Contents/MacOS/Plain", "a"}},
        {"open of something else", {"/usr/bin/open", "/tmp/notes.txt"}, {"/usr/bin/open", "/tmp/notes.txt"}},
        {"another program", {"/bin/echo", "--args", declared}, {"/bin/echo", "--args", declared}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto command = JobCommand::fromProgramArguments(c.items, &error);
        ASSERT_TRUE(command) << error;
        EXPECT_EQ(command->argv(), c.argv);
    }
}
