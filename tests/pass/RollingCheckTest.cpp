#include "pass/RollingCheck.h"

#include "core/ArchiveRecord.h"
#include "platform/runtime/Sha256.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testing_support::TempHome;
using namespace std::chrono_literals;

namespace {
const platform::Date kNow = std::chrono::system_clock::now();
}

// How many copies fall due: a share a whole day, never more than the archive.
TEST(RollingCheckTest, SharesFallDueForWholeDaysUpToTheWholeArchive) {
    struct Case {
        const char* name;
        std::int64_t recorded;
        long days;
        std::optional<std::chrono::hours> sinceAccounted; // nullopt: never accounted for
        std::int64_t owedBefore;
        std::int64_t owed;
    };
    const std::vector<Case> cases{
        {"the first share falls due at once", 3000, 30, std::nullopt, 0, 100},
        {"half a day later nothing more", 3000, 30, 12h, 0, 0},
        {"three days and a bit: three shares", 3000, 30, 76h, 0, 300},
        {"a share left unread is still owed", 3000, 30, 24h, 40, 140},
        {"after a long time off, every copy once", 3000, 30, 24h * 45, 0, 3000},
        {"a few copies: at least one a day", 10, 30, 48h, 0, 2},
        {"a clock set back starts afresh", 3000, 30, -72h, 0, 100},
        {"switched off owes nothing", 3000, 0, 72h, 50, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ArchiveHealth health;
        health.owed = c.owedBefore;
        if (c.sinceAccounted) health.accountedTo = kNow - *c.sinceAccounted;
        RollingCheck::accrue(health, c.recorded, c.days, kNow);
        EXPECT_EQ(health.owed, c.owed);
        if (c.days > 0) {
            ASSERT_TRUE(RollingCheck::nextDue(health));
            EXPECT_GT(*RollingCheck::nextDue(health), kNow);
            EXPECT_LE(*RollingCheck::nextDue(health), kNow + 24h);
        }
    }
}

// A share stopped by a pass is taken up where it stopped; a round ends at
// the record's last copy; damage stays until the copy reads as recorded,
// and a copy whose original still holds what was recorded is made again.
TEST(RollingCheckTest, ReadingGoesRoundFromWhereItStoppedAndKeepsWhatItFinds) {
    TempHome home;
    const fs::path source = home.makeFolder("Shoot/Main");
    const fs::path archive = home.makeFolder("Backup/Main");
    auto record = ArchiveRecord::load(archive);
    ASSERT_TRUE(record);
    for (char c = 'a'; c <= 'f'; ++c) {
        const std::string name = std::string(1, c) + ".jpg";
        const fs::path copy = home.writeFile("Backup/Main/" + name, "photo " + name);
        record->set(name, *platform::sha256OfFile(copy), true);
    }
    ASSERT_TRUE(record->save());
    home.writeFile("Backup/Main/b.jpg", "bit rot"); // no original: stays damaged
    home.writeFile("Backup/Main/c.jpg", "bit rot"); // its original remains: made again
    home.writeFile("Shoot/Main/c.jpg", "photo c.jpg");
    fs::remove(archive / "e.jpg");

    ArchiveHealth health;
    health.owed = 2;
    const auto never = [] { return false; };
    EXPECT_EQ(RollingCheck::read(health, archive, *record, source, never, kNow), 2);
    EXPECT_EQ(health.next, "b.jpg");
    EXPECT_EQ(health.damaged, std::set<std::string>{"b.jpg"});

    health.owed = 2;
    const auto aPassRuns = [] { return true; };
    EXPECT_EQ(RollingCheck::read(health, archive, *record, source, aPassRuns, kNow), 0);
    EXPECT_EQ(health.owed, 2) << "still owed";
    EXPECT_EQ(RollingCheck::read(health, archive, *record, source, never, kNow), 2);
    EXPECT_EQ(health.next, "d.jpg");
    EXPECT_EQ(health.damaged, std::set<std::string>{"b.jpg"}) << "c.jpg was made again";
    EXPECT_EQ(*platform::sha256OfFile(archive / "c.jpg"), *record->hashOf("c.jpg"));
    EXPECT_FALSE(health.readThrough);

    home.writeFile("Backup/Main/b.jpg", "photo b.jpg"); // put back from another backup
    health.owed = 4;
    EXPECT_EQ(RollingCheck::read(health, archive, *record, source, never, kNow), 4);
    EXPECT_EQ(health.missing, std::set<std::string>{"e.jpg"});
    EXPECT_TRUE(health.damaged.empty()) << "b.jpg reads as recorded again";
    EXPECT_EQ(health.readThrough, kNow) << "the round ended at f.jpg";
    EXPECT_EQ(health.next, "b.jpg");
    EXPECT_EQ(health.lastShare, 4);
    EXPECT_EQ(health.problem(), "missing from the archive: e.jpg");
}
