// What an incremental pass copies from the folders events named, and what
// it leaves pending.
#include "support/TempHome.h"
#include "pass/ChangedFiles.h"
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
                                            {}, 1, now);
    auto files = changed.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"./a/-dash 'q' {x}.jpg", "./a/old.jpg", "./top.jpg"}));
    EXPECT_EQ(changed.youngFolders, std::vector<std::string>{(src / "a").string()});
    ASSERT_TRUE(changed.settleMoment);
    // Written 30 s ago with a one-minute settle time: taken at two full minutes.
    EXPECT_NEAR(duration_cast<seconds>(*changed.settleMoment - now).count(), 91, 2);

    // Without a settle time every regular file goes, and nothing waits.
    const auto all = ChangedFiles::list(src, {(src / "a").string()}, {}, 0, now);
    EXPECT_EQ(all.files.size(), 3u);
    EXPECT_FALSE(all.settleMoment);
}

// Named files are looked at one by one, never by listing their folder: one
// new photo in a folder of many is one name for rsync.
TEST(ChangedFilesTest, NamedFilesAreTakenAloneUnlessTheirFolderIsListedOrTheyAreFoldersNow) {
    using namespace std::chrono;
    TempHome tmp;
    const fs::path src = tmp.makeFolder("src");
    for (int i = 0; i < 50; ++i) write(tmp, "src/flat/" + std::to_string(i) + ".jpg", hours(1));
    const fs::path photo = write(tmp, "src/flat/new photo.jpg", hours(1));
    const fs::path young = write(tmp, "src/flat/young.jpg", seconds(10));
    write(tmp, "src/card/a.jpg", hours(1)); // a folder that was a file when named
    write(tmp, "src/listed/b.jpg", hours(1));
    write(tmp, "outside/c.jpg", hours(1));
    fs::create_symlink(tmp.path() / "outside", src / "link");
    const auto now = system_clock::now();
    const auto changed = ChangedFiles::list(
        src, {(src / "listed").string()},
        {photo.string(), young.string(), (src / "flat/gone.jpg").string(), (src / "card").string(),
         (src / "listed/b.jpg").string(), (src / "link/c.jpg").string(), (src / "link").string(),
         (tmp.path() / "outside/c.jpg").string()},
        1, now);
    auto files = changed.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"./card/a.jpg", "./flat/new photo.jpg", "./listed/b.jpg"}));
    EXPECT_EQ(changed.youngFiles, std::vector<std::string>{young.string()});
    EXPECT_TRUE(changed.youngFolders.empty());
    EXPECT_EQ(changed.youngCount, 1);
    ASSERT_TRUE(changed.settleMoment);
}

TEST(PendingChangesTest, EventsNameFilesAndFoldersAndTooManyOrDroppedMeanAFullPass) {
    using Stream = platform::FileEventStream;
    PendingChanges pending;
    EXPECT_TRUE(pending.empty());
    pending.addEvents({{"/s/a", Stream::None}, {"/s/a/x.jpg", Stream::ItemIsFile | Stream::ItemModified}});
    pending.add({"/s/b", "/s/a"}, {"/s/a/x.jpg"});
    auto taken = pending.take();
    EXPECT_FALSE(taken.full);
    EXPECT_EQ(taken.folders, (std::vector<std::string>{"/s/a", "/s/b"}));
    EXPECT_EQ(taken.files, (std::vector<std::string>{"/s/a/x.jpg"}));
    EXPECT_TRUE(pending.empty());

    for (const auto& [folders, files] :
         {std::pair{PendingChanges::kMostFolders + 1, std::size_t{0}}, std::pair{std::size_t{0}, PendingChanges::kMostFiles + 1}}) {
        std::vector<std::string> many;
        for (std::size_t i = 0; i < std::max(folders, files); ++i) many.push_back("/s/" + std::to_string(i));
        pending.add(folders ? many : std::vector<std::string>{}, files ? many : std::vector<std::string>{});
        taken = pending.take();
        EXPECT_TRUE(taken.full);
        EXPECT_TRUE(taken.folders.empty() && taken.files.empty());
    }

    pending.add({"/s/a"}, {"/s/x.jpg"});
    pending.addEvents({{"/s/b/y.jpg", Stream::ItemIsFile}, {"/s", Stream::KernelDropped | Stream::MustScanSubDirs}});
    pending.add({"/s/b"}, {"/s/z.jpg"}); // a full pass covers it
    taken = pending.take();
    EXPECT_TRUE(taken.full);
    EXPECT_TRUE(taken.folders.empty() && taken.files.empty());
}

} // namespace
