#include "engines/FindRequest.h"
#include "engines/KLVR_Task.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using Args = std::vector<std::string>;

namespace {

// 2012-03-07 10:15:00.250 UTC; the zone is pinned so the texts are fixed.
platform::Date fixedNow() {
    setenv("TZ", "UTC", 1);
    tzset();
    return platform::Date(std::chrono::seconds(1331115300) + std::chrono::milliseconds(250));
}

Args tail(const Args& args, size_t from) { return Args(args.begin() + static_cast<long>(from), args.end()); }

} // namespace

TEST(FindRequestTest, HiddenFileRemovalMatchesEveryFileBornBeforeTheRun) {
    FindRequest r = KLVR_Task::removeFilesRequest("/s", {".*"}, 0u, std::nullopt, nullptr);
    // The limit is rounded up to the next second, so a file born earlier in
    // the same second as the run is included.
    EXPECT_EQ(r.arguments(fixedNow()), (Args{".", "-type", "f", "-and", "-not", "-newerBt", "2012-03-07T10:15:01+0000",
                                            "-iname", ".*", "-mindepth", "1", "-exec", "rm", "{}", ";"}));
    EXPECT_EQ(r.path, "/s");
}

TEST(FindRequestTest, OldFolderRemovalAndDayCounts) {
    platform::Date now = fixedNow();
    auto limitFor = [&](unsigned days) {
        return KLVR_Task::removeSubdirectoriesRequest("/s", {}, days, std::nullopt, nullptr).arguments(now);
    };
    EXPECT_EQ(limitFor(2), (Args{".", "-type", "d", "-and", "-not", "-newerBt", "2012-03-05T10:15:01+0000",
                                 "-mindepth", "1", "-exec", "rmdir", "{}", ";"}));
    EXPECT_EQ(limitFor(1)[6], "2012-03-06T10:15:01+0000");
    EXPECT_EQ(limitFor(0)[6], "2012-03-07T10:15:01+0000");
    // Ages reaching back before 1970 stop there instead of overflowing.
    EXPECT_EQ(limitFor(4000000000u)[6], "1970-01-01T00:00:00+0000");
}

TEST(FindRequestTest, PatternsAgeAndDepthInTheirPlaces) {
    platform::Date now = fixedNow();
    FindRequest one{"/s", "f", {"*.jpg"}, std::nullopt, 20u, std::nullopt, {}, nullptr};
    EXPECT_EQ(one.arguments(now), (Args{".", "-type", "f", "-mmin", "+20", "-iname", "*.jpg", "-mindepth", "1"}));

    FindRequest three{"/s", std::nullopt, {"*.jpg", "*.png", "*.cr2"}, 3u, std::nullopt, 2u, std::string("echo"), nullptr};
    EXPECT_EQ(tail(three.arguments(now), 5), (Args{"-and", "(", "-iname", "*.jpg", "-or", "-iname", "*.png", "-or",
                                                   "-iname", "*.cr2", ")", "-maxdepth", "2", "-mindepth", "1",
                                                   "-exec", "echo", "{}", ";"}));
    EXPECT_EQ(three.arguments(now)[1], "-and"); // no type test: the age test follows the root
}

TEST(FindRequestTest, OnlyTheSevenTypeLettersMakeATypeTest) {
    auto typed = [](const char* letter) {
        return FindRequest{"/s", letter, {}, std::nullopt, std::nullopt, std::nullopt, {}, nullptr}.arguments(fixedNow());
    };
    EXPECT_EQ(typed("l"), (Args{".", "-type", "l", "-mindepth", "1"}));
    for (const char* other : {"", "x", "F", "fd"}) EXPECT_EQ(typed(other), (Args{".", "-mindepth", "1"})) << other;
}

TEST(FindRequestTest, SynchronizationCopiesThenAgesThenVerifiesThenDeletes) {
    platform::Date now = fixedNow();
    FindRequest off = KLVR_Task::synchronizationRequest("/src", "/dst/src", 20, 36500, nullptr, now);
    EXPECT_EQ(off.arguments(now), (Args{".", "-type", "f", "-mmin", "+20", "-mindepth", "1",
                                        "-exec", "rsync", "-lptogRq", "--timeout=120", "--backup",
                                        "--backup-dir=/dst/.tolv-archiver-kept/2012-03-07 10-15-00.250/src",
                                        "{}", "/dst/src/", ";",
                                        "-Btime", "+36500d",
                                        "-exec", "sync", "-f", "/dst/src/{}", ";",
                                        "-exec", "cmp", "-s", "{}", "/dst/src/{}", ";",
                                        "-delete"}));
    EXPECT_EQ(off.path, "/src");

    Args never = KLVR_Task::synchronizationRequest("/src", "/dst", 0, 0, nullptr, now).arguments(now);
    EXPECT_EQ(never, (Args{".", "-type", "f", "-mindepth", "1", "-exec", "rsync", "-lptogRq", "--timeout=120", "--backup",
                           "--backup-dir=/.tolv-archiver-kept/2012-03-07 10-15-00.250/dst", "{}", "/dst/", ";"}));
}

TEST(FindRequestTest, RemovalCommandsAreRecognisedInAnyCase) {
    auto withCommand = [](FindRequest::Command c) {
        return FindRequest{"/s", std::nullopt, {}, std::nullopt, std::nullopt, std::nullopt, std::move(c), nullptr};
    };
    EXPECT_TRUE(withCommand(std::string("rm")).isRemoval());
    EXPECT_TRUE(withCommand(std::string("rmDir")).isRemoval());
    EXPECT_FALSE(withCommand(std::string("rmx")).isRemoval());
    EXPECT_FALSE(withCommand(std::string("/bin/rm")).isRemoval());
    EXPECT_FALSE(withCommand(Args{"rm"}).isRemoval());
    EXPECT_FALSE(withCommand({}).isRemoval());
}
