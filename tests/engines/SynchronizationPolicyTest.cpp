// Both engines must select, copy and delete the same files: the per-file
// find vector is compared piece by piece with the fast engine's children.
#include "engines/SynchronizationPolicy.h"

#include "engines/KLVR_Task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>

using Args = std::vector<std::string>;

namespace {

Args joined(Args head, const Args& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Args from(const Args& args, size_t first) { return Args(args.begin() + long(first), args.end()); }

// 2012-03-07 10:15:00.250 UTC.
const platform::Date kStart(std::chrono::seconds(1331115300) + std::chrono::milliseconds(250));

// Sets the local time zone for the life of the object.
class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

} // namespace

TEST(SynchronizationPolicyTest, BothEnginesSelectCopyAndDeleteAlike) {
    struct Case {
        unsigned minutes;
        unsigned days;
        std::string destination;
        bool deletes;
    };
    // 36500 is what the caller passes with deletion switched off; the
    // per-file vector keeps its primaries then, since its age test matches
    // no file and costs no walk of its own (the exact vector is pinned in
    // FindRequestTest).
    for (const Case& c : {Case{20, 0, "/dst/photos", false}, Case{0, 30, "/dst/photos/", true},
                          Case{20, 1, "/dst/photos", true}, Case{20, 36499, "/dst/photos", true},
                          Case{20, 36500, "/dst/photos", false}, Case{5, 36501, "/dst/photos/", false}}) {
        SCOPED_TRACE("minutes " + std::to_string(c.minutes) + ", days " + std::to_string(c.days) + ", " +
                     c.destination);
        const Args walk = SynchronizationPolicy::walkArguments(c.minutes);
        const Args copy = SynchronizationPolicy::copyArguments(c.destination, kStart);
        const Args deletion = SynchronizationPolicy::deletionArguments(c.destination, c.minutes, c.days);
        ASSERT_FALSE(walk.empty());
        EXPECT_EQ(walk.back(), "-print0");
        const Args selection(walk.begin(), walk.end() - 1);
        ASSERT_GE(deletion.size(), selection.size());
        EXPECT_EQ(Args(deletion.begin(), deletion.begin() + long(selection.size())), selection);
        // One separator at the end, whether the caller gave one or not.
        EXPECT_EQ(copy.back(), "/dst/photos/");

        // The per-file walk: the same selection, one rsync per file with the
        // fast run's flags (all before its list options) and folder, then the
        // fast deletion walk's primaries, less the printing of what it deleted.
        // With deletion, each copy is flushed to the disk before its original
        // may go (the fast run flushes the whole disk before its deletion walk).
        const auto listOptions = std::find(copy.begin(), copy.end(), "--from0");
        Args options(copy.begin(), listOptions);
        if (c.deletes) options.insert(options.begin() + 1, "--fsync");
        const Args copyEach = joined(joined({"-exec", "rsync"}, options), {"{}", copy.back(), ";"});
        const Args perFile =
            KLVR_Task::synchronizationRequest("/src", c.destination, c.minutes, c.days, nullptr, kStart)
                .arguments(platform::Date{});
        EXPECT_EQ(deletion.back(), "-print0");
        const Args deleted = from(deletion, selection.size());
        Args verifyThenDelete = c.days > 0 ? Args(deleted.begin(), deleted.end() - 1) : Args{};
        if (c.days > 0) {
            EXPECT_EQ(verifyThenDelete.back(), "-delete");
            // The per-file walk flushes the archive's file system (names too) before cmp.
            verifyThenDelete.insert(verifyThenDelete.begin() + 2, {"-exec", "sync", "-f", copy.back() + "{}", ";"});
        }
        EXPECT_EQ(perFile, joined(joined(selection, copyEach), verifyThenDelete));

        EXPECT_EQ(SynchronizationPolicy::deletes(c.days), c.deletes);
    }
}

TEST(SynchronizationPolicyTest, ReplacedCopiesGoToOneFolderPerRunBesideTheArchiveFolders) {
    LocalZone zone("CET-1"); // one hour east of UTC all year: the stamp is local time
    const std::string kept = "/dst/.tolv-archiver-kept/2012-03-07 11-15-00.250/photos";
    struct Case {
        std::string destination, kept;
    };
    for (const Case& c : {Case{"/dst/photos", kept}, Case{"/dst/photos/", kept}, Case{"/dst/photos//", kept},
                          Case{"/photos", "/.tolv-archiver-kept/2012-03-07 11-15-00.250/photos"}}) {
        SCOPED_TRACE(c.destination);
        EXPECT_EQ(SynchronizationPolicy::keptFolder(c.destination, kStart), c.kept);
    }
    EXPECT_EQ(SynchronizationPolicy::copyArguments("/dst/photos", kStart),
              (Args{"-lptogRq", "--timeout=120", "--backup", "--backup-dir=" + kept, "--from0", "--files-from=-", ".", "/dst/photos/"}));
}
