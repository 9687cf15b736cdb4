// What an incremental pass copies from the folders events named, and what
// it leaves pending.
#include "support/TempHome.h"
#include "tools/ChangedFiles.h"
#include "watch/PendingChanges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;
using testing_support::TempHome;

namespace {

fs::path write(const TempHome& tmp, const std::string& relative, std::chrono::seconds age) {
    const fs::path p = tmp.writeFile(relative, relative);
    fs::last_write_time(p, fs::file_time_type::clock::now() - age);
    return p;
}

TEST(ChangedFilesTest, SelectsSettledRegularFilesDirectlyInTheNamedFoldersOnly) {
    using namespace std::chrono;
    TempHome tmp;
    const fs::path src = tmp.makeFolder("src");
    write(tmp, "src/top.jpg", hours(1));
    write(tmp, "src/a/old.jpg", hours(1));
    write(tmp, "src/a/-dash 'q' {x}.jpg", seconds(121));
    write(tmp, "src/a/young.jpg", seconds(30));
    write(tmp, "src/a/b/deeper.jpg", hours(1)); // below a named folder: not named itself
    write(tmp, "src/c/other.jpg", hours(1));    // a folder no event named
    write(tmp, "elsewhere/x.jpg", hours(1));
    fs::create_symlink(tmp.path() / "elsewhere", src / "link");
    fs::create_symlink(src / "a/old.jpg", src / "a/link.jpg");
    const auto now = system_clock::now();

    const auto changed = ChangedFiles::list(src, {src.string(), (src / "a").string(), (src / "link").string(),
                                                  (tmp.path() / "elsewhere").string(), (src / "gone").string()},
                                            1, now);
    auto files = changed.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"./a/-dash 'q' {x}.jpg", "./a/old.jpg", "./top.jpg"}));
    EXPECT_EQ(changed.youngFolders, std::vector<std::string>{(src / "a").string()});
    ASSERT_TRUE(changed.settleMoment);
    // Written 30 s ago with a one-minute settle time: taken at two full minutes.
    EXPECT_NEAR(duration_cast<seconds>(*changed.settleMoment - now).count(), 91, 2);

    // Without a settle time every regular file goes, and nothing waits.
    const auto all = ChangedFiles::list(src, {(src / "a").string()}, 0, now);
    EXPECT_EQ(all.files.size(), 3u);
    EXPECT_FALSE(all.settleMoment);
}

TEST(PendingChangesTest, TooManyFoldersOrAFullRequestMeanAFullPass) {
    PendingChanges pending;
    EXPECT_TRUE(pending.empty());
    pending.addFolders({"/s/a", "/s/b", "/s/a"});
    auto taken = pending.take();
    EXPECT_FALSE(taken.full);
    EXPECT_EQ(taken.folders, (std::vector<std::string>{"/s/a", "/s/b"}));
    EXPECT_TRUE(pending.empty());

    std::vector<std::string> many;
    for (std::size_t i = 0; i <= PendingChanges::kMostFolders; ++i) many.push_back("/s/" + std::to_string(i));
    pending.addFolders(many);
    taken = pending.take();
    EXPECT_TRUE(taken.full);
    EXPECT_TRUE(taken.folders.empty());

    pending.addFolders({"/s/a"});
    pending.requestFull();
    pending.addFolders({"/s/b"}); // a full pass covers it
    EXPECT_TRUE(pending.take().full);
}

} // namespace
