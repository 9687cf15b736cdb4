// What the end of a pass and the last result say about a slot: the error,
// the state shown, and the backup-lag alarm.
#include "pass/PassOutcome.h"
#include "pass/PassResult.h"
#include "watch/SlotState.h"

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

PassCounts failing(std::int64_t failed) {
    PassCounts c;
    c.failed = failed;
    return c;
}

PassOutcome ended(bool started, std::int32_t status, std::optional<PassCounts> counts, std::string problem = "",
                  bool outOfRoom = false, bool readOnly = false) {
    return PassOutcome{started, status, counts, std::move(problem), outOfRoom, readOnly};
}

SlotState::Inputs slot(bool enabled, bool watching, bool busy = false, std::optional<PassResult> last = std::nullopt,
                       long alarmMinutes = 60, std::optional<std::string> destinationProblem = std::nullopt) {
    return SlotState::Inputs{enabled, watching, busy, std::move(last), alarmMinutes, std::move(destinationProblem)};
}

} // namespace

TEST(PassOutcomeTest, TheRunsEndNamesTheError) {
    struct Case {
        PassOutcome outcome;
        const char* error;
    } cases[] = {
        {ended(true, 0, PassCounts{}), ""},
        {ended(false, 127, std::nullopt), "the copy run could not start"},
        {ended(true, 23, failing(1), "destination missing"), "destination missing"},
        {ended(true, 23, failing(1), "destination not mounted"), "destination not mounted"},
        // rsync's 11 is any file error: the disk says whether it was room.
        {ended(true, 11, failing(1)), "1 copy failed"},
        {ended(true, 11, failing(1), "", true), "destination full"},
        {ended(true, 23, failing(4), "", false, true), "destination read-only"},
        // Copies that failed on a disk below the floor, or with less room
        // than the largest failed file, failed for want of room.
        {ended(true, 23, failing(2), "", true), "destination full"},
        {ended(true, 0, PassCounts{}, "", true), ""},
        {ended(true, 23, failing(1)), "1 copy failed"},
        {ended(true, 0, failing(3)), "3 copies failed"},
        // Owners a card's file system cannot keep, or a file gone meanwhile: every copy is whole.
        {ended(true, 23, PassCounts{}), ""},
        {ended(true, 24, PassCounts{}), ""},
        {ended(true, 1, std::nullopt), "the copy run ended with status 1"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.outcome.error(), c.error) << c.outcome.status;
}

TEST(SlotStateTest, StateFollowsSwitchStreamPassAndLastResult) {
    const auto now = std::chrono::system_clock::now();
    PassResult good, waiting, broken;
    good.ended = now - 5min;
    good.copied = 3;
    waiting.ended = now - 1min;
    waiting.waiting = 2;
    waiting.oldestUnarchived = now - 3min;
    broken.ended = now - 1min;
    broken.error = "destination missing";
    broken.oldestUnarchived = now - 90min;
    using K = SlotState::Kind;
    struct Case {
        SlotState::Inputs in;
        K kind;
        const char* title;
        bool alarm;
    } cases[] = {
        {slot(false, false), K::Off, "Off", false},
        {slot(false, false, false, broken), K::Off, "Off", false},
        {slot(true, false, false, good), K::Off, "Off", false},
        {slot(true, true), K::Watching, "Watching", false},
        {slot(true, true, false, good), K::Watching, "Watching", false},
        {slot(true, true, true, broken), K::Archiving, "Archiving", true},
        {slot(true, true, false, waiting), K::Waiting, "Waiting for 2 young files", false},
        // An error outlives watching: a scan of an unwatched folder can fail too.
        {slot(true, false, false, broken), K::Error, "Error: destination missing", false},
        {slot(true, true, false, broken), K::Error, "Error: destination missing", true},
        {slot(true, true, false, broken, 120), K::Error, "Error: destination missing", false},
        {slot(true, true, false, broken, 0), K::Error, "Error: destination missing", false},
        // A destination that is not the archive now puts every slot that is on in error.
        {slot(true, false, false, good, 60, "destination not mounted"), K::Error, "Error: destination not mounted", false},
        {slot(true, true, false, std::nullopt, 60, "destination is not the chosen archive"), K::Error,
         "Error: destination is not the chosen archive", false},
        {slot(false, false, false, good, 60, "destination not mounted"), K::Off, "Off", false},
        // Once it is back, a pass it stopped is no error; another failure still is.
        {slot(true, false, false, broken, 60, ""), K::Off, "Off", false},
        {slot(true, true, false, broken, 0, ""), K::Watching, "Watching", false},
        {slot(true, true, false, waiting, 60, ""), K::Waiting, "Waiting for 2 young files", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n++);
        const SlotState s = SlotState::of(c.in, now);
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_EQ(s.title(), c.title);
        EXPECT_EQ(s.lagAlarm, c.alarm);
        EXPECT_EQ(s.problem().empty(), c.kind != K::Error && !c.alarm);
    }
    // A pass that runs does not end the problem: were it forgotten, the
    // same failure would be told again after every pass.
    EXPECT_EQ(SlotState::of(slot(true, true, true, broken, 0), now).problem(), "destination missing");
    EXPECT_EQ(SlotState::of(slot(false, false, false, broken), now).problem(), "");
}

// Watching off, or the destination away: the files nobody archives are
// counted on the row, age into the alarm, and a refused pass leaves the last
// pass that archived in sight.
TEST(SlotStateTest, WhatWaitsWhileNothingArchivesIsShownWithTheLastPassThatArchived) {
    const auto now = std::chrono::system_clock::now();
    PassResult good, refused;
    good.ended = now - 3h;
    good.copied = 12;
    refused.ended = now - 1min;
    refused.error = "destination not mounted";
    const auto waiting = [](SlotState::Inputs in, std::int64_t files, platform::Date since) {
        in.unarchived = UnarchivedFiles::Count{files, since};
        return in;
    };
    using K = SlotState::Kind;
    struct Case {
        SlotState::Inputs in;
        K kind;
        const char* starts;
        bool alarm;
    } cases[] = {
        {waiting(slot(true, false, false, good), 20, now - 30min), K::NotWatched, "Not watched · 20 waiting since ", false},
        {waiting(slot(true, false, false, good), 20, now - 90min), K::NotWatched, "Not watched · 20 waiting since ", true},
        {waiting(slot(true, false, false, good), 0, now), K::Off, "Off · last pass ", false},
        {waiting(slot(false, false, false, good), 20, now - 90min), K::Off, "Off · last pass ", false},
        {waiting(slot(true, true, false, refused, 60, "destination not mounted"), 20, now - 10min), K::Error,
         "Error: destination not mounted · 20 waiting since ", false},
    };
    int n = 0;
    for (Case& c : cases) {
        SCOPED_TRACE(n++);
        c.in.lastArchived = good;
        const SlotState s = SlotState::of(c.in, now);
        EXPECT_EQ(s.kind, c.kind);
        const std::string line = s.line(c.in.last, c.in.lastArchived);
        EXPECT_EQ(line.rfind(c.starts, 0), 0u) << line;
        EXPECT_EQ(s.lagAlarm, c.alarm);
        const bool refusedLast = c.in.last && !c.in.last->error.empty();
        EXPECT_EQ(line.find("last archived ") != std::string::npos, refusedLast) << line;
        if (refusedLast) EXPECT_NE(line.find("12 copied"), std::string::npos) << line;
    }
    EXPECT_EQ(SlotState::of(waiting(slot(true, false, false, good), 3, now), now).name(), "not-watched");
}

TEST(PassResultTest, ARefusedPassDoesNotReplaceTheLastThatArchived) {
    testing_support::TempHome home;
    const auto ended = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
    EXPECT_FALSE(PassResult::loadLastArchived(1));
    PassResult archived;
    archived.ended = ended - 1h;
    archived.copied = 7;
    archived.seconds = 60;
    archived.store(1);
    EXPECT_EQ(PassResult::loadLastArchived(1)->started(), ended - 1h - 1min);
    PassResult::unstarted(1, "destination not mounted").store(1);
    EXPECT_EQ(PassResult::load(1)->error, "destination not mounted");
    ASSERT_TRUE(PassResult::loadLastArchived(1));
    EXPECT_EQ(PassResult::loadLastArchived(1)->copied, 7);
}

TEST(PassResultTest, ALastPassOutlivesTheApplicationAndADamagedOneIsNone) {
    testing_support::TempHome home;
    const auto ended = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
    PassResult stored{.ended = ended, .copied = 12, .failed = 1, .deleted = 3, .waiting = 2, .seconds = 0.84,
                      .error = "1 copy failed", .oldestUnarchived = ended - 2h};
    stored.store(2);
    platform::UserDefaults::resetStandard(); // as a new start reads the file
    auto loaded = PassResult::load(2);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->summary("/p/Web"), "pass of /p/Web: 12 copied, 1 failed, 3 deleted, 2 waiting, 0.84 s");
    EXPECT_EQ(loaded->error, "1 copy failed");
    EXPECT_EQ(loaded->oldestUnarchived, ended - 2h);
    EXPECT_FALSE(PassResult::load(1));

    auto& prefs = platform::UserDefaults::standard();

    for (const platform::Value& damaged :
         {platform::Value("yesterday"), platform::Value(platform::Value::Dictionary{{"copied", platform::Value(4)}})}) {
        prefs.setObject(PassResult::preferenceKey(3), damaged);
        EXPECT_FALSE(PassResult::load(3));
    }
    prefs.setObject(PassResult::preferenceKey(3),
                    platform::Value(platform::Value::Dictionary{{"ended", platform::Value(ended)},
                                                                {"copied", platform::Value(-5)},
                                                                {"error", platform::Value(7)}}));
    auto odd = PassResult::load(3);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->copied, 0);
}
