// The count of a source's settled files that no pass has archived yet, on
// real files: what changed after the last pass that archived began, the
// settle time aside.
#include "pass/UnarchivedFiles.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing_support::TempHome;
using namespace std::chrono_literals;

TEST(UnarchivedFilesTest, CountsTheSettledFilesChangedSinceTheLastPassThatArchived) {
    TempHome home;
    const fs::path source = home.makeFolder("Main");
    const auto now = std::chrono::system_clock::now();
    const auto dated = [&](const std::string& name, std::chrono::minutes age) {
        home.writeFile("Main/" + name, "photo");
        fs::last_write_time(source / name, fs::file_time_type::clock::now() - age);
    };
    dated("archived.jpg", 180min);   // there, and unchanged, before the pass
    dated("day two/new.jpg", -120min); // written after it (a camera clock ahead)
    dated("young.jpg", 0min);        // too young to count with a settle time

    struct Case {
        const char* name;
        unsigned settle;
        std::optional<platform::Date> archivedFrom;
        std::int64_t files;
    } cases[] = {
        {"never archived, copied at once", 0, std::nullopt, 3},
        // One dated ahead has settled only by its change, which -mmin cannot
        // judge: the pass's own walk after a full pass finds it.
        {"never archived, 20 minutes to settle", 20, std::nullopt, 1},
        // Every file here was written a moment ago: a pass that began later
        // saw them all, but for the one dated after it.
        {"archived since they came", 0, now + 1min, 1},
        {"archived long ago", 0, now - 1h, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto count = UnarchivedFiles::count(source, c.settle, c.archivedFrom);
        ASSERT_TRUE(count);
        EXPECT_EQ(count->files, c.files);
        ASSERT_TRUE(count->since);
        EXPECT_LT(*count->since - now, 3h);
    }
    EXPECT_FALSE(UnarchivedFiles::count(source / "gone", 0, std::nullopt)) << "no count beats a low one";
}
