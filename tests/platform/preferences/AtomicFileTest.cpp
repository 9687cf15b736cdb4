// Files with fixed names in folders that others can write: the name is
// replaced, never written through a planted link or into someone's file.

#include "platform/preferences/AtomicFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempHome;

namespace {

TEST(AtomicFileTest, ReplacingANameNeverWritesThroughALinkOrIntoAFile) {
    TempHome home;
    const fs::path victim = home.writeFile("victim", "precious");
    const fs::path staged = home.path() / "staged";
    fs::create_symlink(victim, staged);
    std::string why;
    ASSERT_TRUE(platform::replaceFileAtomically(staged, "new", &why)) << why;
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(staged));
    EXPECT_EQ(readFile(staged), "new");
    EXPECT_EQ(fs::status(staged).permissions(), fs::perms(0644));

    // A hard link to someone's file: the name gets a new file, theirs keeps its bytes.
    fs::remove(staged);
    fs::create_hard_link(victim, staged);
    ASSERT_TRUE(platform::replaceFileAtomically(staged, "again", &why)) << why;
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(readFile(staged), "again");
}

TEST(AtomicFileTest, CreatingNeverReplacesAnythingAndLeavesNoTemporary) {
    TempHome home;
    const fs::path folder = home.makeFolder("agents");
    const fs::path existing = home.writeFile("agents/job.plist", "old");
    std::string why;
    EXPECT_FALSE(platform::createFileAtomically(existing, "new", &why));
    EXPECT_NE(why.find("exists"), std::string::npos) << why;
    EXPECT_EQ(readFile(existing), "old");
    ASSERT_TRUE(platform::createFileAtomically(folder / "fresh.plist", "new", &why)) << why;
    EXPECT_EQ(readFile(folder / "fresh.plist"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

// The temporary folder is sticky: another user's file there may not be
// replaced, and that refusal must reach the caller.
TEST(AtomicFileTest, AnotherUsersFileInAStickyFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    TempHome home;
    const fs::path shared = home.makeFolder("shared");
    ::chmod(home.path().c_str(), 0755);
    ::chmod(shared.c_str(), 01777);
    const fs::path theirs = home.writeFile("shared/temp.plist", "theirs"); // owned by root
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        std::string why;
        const bool replaced = platform::replaceFileAtomically(theirs, "mine", &why);
        _exit(replaced ? 1 : (why.find("Operation not permitted") != std::string::npos ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: replaced, 2: refused without the reason, 3: no second user";
    EXPECT_EQ(readFile(theirs), "theirs");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 1) << "a temporary was left";
}

// A folder reached through a disk's marker: with the marker gone (the disk
// unplugged), nothing may appear in the folder the disk left behind.
TEST(AtomicFileTest, FoldersAreMadeOnlyBelowABaseThatExists) {
    TempHome home;
    const fs::path disk = home.makeFolder("Backup");
    const fs::path base = disk / ".marker" / "..";
    std::string why;
    EXPECT_FALSE(platform::makeFoldersBelow(base, base / ".record" / "a", &why));
    EXPECT_TRUE(fs::is_empty(disk)) << "made in the folder the disk left behind";
    fs::create_directory(disk / ".marker");
    ASSERT_TRUE(platform::makeFoldersBelow(base, base / ".record" / "a", &why)) << why;
    EXPECT_TRUE(fs::is_directory(disk / ".record/a"));
    EXPECT_TRUE(platform::makeFoldersBelow(base, base / ".record" / "a", &why)) << "an existing folder is fine";
    EXPECT_FALSE(platform::makeFoldersBelow(base / ".record", disk / "elsewhere", &why));
}

} // namespace
