// The record of what every copy holds, as a user meets it: written by
// either engine as it copies (before any original goes), read by
// coreutils' own sha256sum from inside the archive folder, and checked by
// --verify, which names every damaged or missing copy and makes a damaged
// one again from its original where that remains.

#include "core/ArchiveRecord.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Task.h"
#include "support/AppProcess.h"
#include "support/ChildrenInTheFuture.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/RecordCheck.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using testing_support::TempHome;

namespace {

std::string synchronize(const fs::path& source, const fs::path& archive, const char* days, const char* engine) {
    const auto run = platform::Task::runCapturingOutput(
        {.path = testing_support::testProgram("synchronizeonce").string(),
         .arguments = {source.string(), archive.string(), "0", days, engine},
         .workingDirectory = {}});
    return run.standardOutput;
}

// One byte changed in place: same size, as a failing sector leaves it.
void flipAByte(const fs::path& file) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    char c = 0;
    f.get(c);
    f.seekp(0);
    f.put(static_cast<char>(c ^ 0x20));
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

} // namespace

TEST(ArchiveRecordTest, DamageIsNamedByVerifyAndEveryOtherCopyChecksOutWithEitherEngine) {
    const std::string odd = "odd \\ name\n-{}.jpg"; // a backslash and a newline: sha256sum escapes them
    for (const char* engine : {"fast", "per-file"}) {
        SCOPED_TRACE(engine);
        TempHome home;
        const fs::path source = home.path() / "Main";
        const fs::path destination = home.makeFolder("Backup");
        const fs::path archive = destination / "Main";
        testing_support::chooseDestination(destination);
        auto& prefs = platform::UserDefaults::standard();
        prefs.setObject("prefCameraFolderPathFormat1", source.string());
        prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
        ASSERT_TRUE(prefs.synchronize());

        // Two photos old enough to go: archived, then deleted from the card.
        home.writeFile("Main/gone.jpg", "first photo");
        home.writeFile("Main/2026/" + odd, "second photo");
        {
            testing_support::ChildrenInTheFuture future(3);
            if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
            EXPECT_EQ(synchronize(source, archive, "1", engine), "copied 2 failed 0 deleted 2\n");
        }
        // Two more that stay on the card.
        home.writeFile("Main/kept.jpg", "third photo");
        home.writeFile("Main/2026/fine.jpg", "fourth photo");
        EXPECT_EQ(synchronize(source, archive, "0", engine), "copied 2 failed 0 deleted 0\n");
        EXPECT_EQ(testing_support::recordComplaints(archive), "");

        auto verify = testing_support::runToEnd({"--verify"});
        EXPECT_EQ(verify.status, 0) << verify.output;
        EXPECT_NE(verify.output.find("Main Images: 4 copies checked: 0 damaged, 0 missing, 0 without a record"),
                  std::string::npos)
            << verify.output;

        // Three copies damaged: two whose originals are gone, one whose original remains.
        for (const std::string& path : {std::string("gone.jpg"), "2026/" + odd, std::string("kept.jpg")})
            flipAByte(archive / path);
        const std::string complaints = testing_support::recordComplaints(archive);
        EXPECT_EQ(count(complaints, "FAILED"), 3) << complaints;
        EXPECT_EQ(complaints.find("fine.jpg"), std::string::npos) << complaints;
        verify = testing_support::runToEnd({"--verify", "1"});
        EXPECT_EQ(verify.status, 1) << verify.output;
        EXPECT_NE(verify.output.find("4 copies checked: 3 damaged, 0 missing"), std::string::npos) << verify.output;
        for (const std::string& path : {std::string("gone.jpg"), "2026/" + odd})
            EXPECT_NE(verify.output.find("damaged in the archive; no other copy: " + path), std::string::npos)
                << path << "\n" << verify.output;
        // The one whose original remains is made again; its damaged version is kept.
        EXPECT_NE(verify.output.find("made again from its original: kept.jpg"), std::string::npos) << verify.output;
        EXPECT_EQ(testing_support::readFile(archive / "kept.jpg"), "third photo");
        int keptVersions = 0;
        for (const auto& entry : fs::recursive_directory_iterator(destination / ".tolv-archiver-kept"))
            if (entry.path().filename() == "kept.jpg" && testing_support::readFile(entry.path()) != "third photo")
                ++keptVersions;
        EXPECT_EQ(keptVersions, 1);
        EXPECT_EQ(count(testing_support::recordComplaints(archive), "FAILED"), 2);

        // A copy gone, and one that came without a record.
        fs::remove(archive / "2026/fine.jpg");
        home.writeFile("Backup/Main/stray.jpg", "put there by hand");
        verify = testing_support::runToEnd({"--verify"});
        EXPECT_EQ(verify.status, 1) << verify.output;
        EXPECT_NE(verify.output.find("3 copies checked: 2 damaged, 1 missing, 1 without a record"), std::string::npos)
            << verify.output;
        EXPECT_NE(verify.output.find("missing: 2026/fine.jpg"), std::string::npos) << verify.output;
        // What has no other copy is neither moved nor deleted by looking.
        EXPECT_EQ(testing_support::readFile(archive / "stray.jpg"), "put there by hand");
        EXPECT_TRUE(fs::exists(archive / "gone.jpg"));
    }
}

// A pass killed at any moment (its copies half made, its record being
// written) leaves a record that says nothing untrue; the next pass whole
// records every copy.
TEST(ArchiveRecordTest, APassKilledAtAnyMomentLeavesNoWrongLine) {
    TempHome home;
    const fs::path source = home.path() / "Main";
    const fs::path archive = home.makeFolder("Backup") / "Main";
    const std::string block(64 * 1024, 'x');
    for (int i = 0; i < 400; ++i) home.writeFile("Main/d" + std::to_string(i % 8) + "/" + std::to_string(i) + ".jpg", block + std::to_string(i));
    for (const int ms : {30, 120, 250, 400, 700}) {
        SCOPED_TRACE(ms);
        // Photos changed since the last try: their copies are made again.
        home.writeFile("Main/d0/" + std::to_string(ms) + ".jpg", "changed " + std::to_string(ms));
        const auto run = platform::Task::runCapturingOutput(
            {.path = "/usr/bin/timeout",
             .arguments = {"-s", "KILL", std::to_string(ms / 1000.0), testing_support::testProgram("synchronizeonce").string(),
                           source.string(), archive.string(), "0", "0", "fast"},
             .workingDirectory = {}});
        // rsync runs it had started finish their files on their own.
        ASSERT_TRUE(testing_support::waitUntil([&] {
            return platform::Task::runCapturingOutput({.path = "/usr/bin/pgrep", .arguments = {"-f", archive.string()}, .workingDirectory = {}})
                       .standardOutput.empty();
        }, std::chrono::seconds(20)));
        EXPECT_EQ(testing_support::recordComplaints(archive), "");
    }
    EXPECT_EQ(synchronize(source, archive, "0", "fast").substr(0, 7), "copied ");
    EXPECT_EQ(testing_support::recordComplaints(archive), "");
    const auto record = ArchiveRecord::load(archive);
    ASSERT_TRUE(record);
    for (const auto& [relative, contents] : testing_support::fileContents(source))
        EXPECT_TRUE(record->hashOf(relative)) << relative;
    EXPECT_EQ(record->hashes().size(), testing_support::fileContents(source).size());

    // A photo rewritten: its new copy is recorded, and so is the version kept aside.
    home.writeFile("Main/d1/1.jpg", "rewritten, and longer than before: " + block);
    EXPECT_EQ(synchronize(source, archive, "0", "fast"), "copied 1 failed 0 deleted 0\n");
    const auto after = ArchiveRecord::load(archive);
    ASSERT_TRUE(after);
    int keptLines = 0;
    for (const auto& [path, hash] : after->hashes())
        if (path.starts_with("../.tolv-archiver-kept/") && path.ends_with("/Main/d1/1.jpg")) {
            ++keptLines;
            EXPECT_EQ(hash, *record->hashOf("d1/1.jpg"));
        }
    EXPECT_EQ(keptLines, 1);
    EXPECT_NE(*after->hashOf("d1/1.jpg"), *record->hashOf("d1/1.jpg"));
    EXPECT_EQ(testing_support::recordComplaints(archive), "");

    // The per-file engine records the version it keeps as well.
    home.writeFile("Main/d3/3.jpg", "rewritten between per-file passes: " + block);
    EXPECT_EQ(synchronize(source, archive, "0", "per-file"), "copied 1 failed 0 deleted 0\n");
    const auto perFile = ArchiveRecord::load(archive);
    ASSERT_TRUE(perFile);
    int perFileKept = 0;
    for (const auto& [path, hash] : perFile->hashes())
        perFileKept += path.starts_with("../.tolv-archiver-kept/") && path.ends_with("/Main/d3/3.jpg") &&
                       hash == *record->hashOf("d3/3.jpg");
    EXPECT_EQ(perFileKept, 1);
    EXPECT_EQ(testing_support::recordComplaints(archive), "");

    // A photo only touched is copied again, but its old copy held the same
    // bytes: it is not kept a second time.
    const auto countKept = [&] {
        int n = 0;
        for (const auto& entry : fs::recursive_directory_iterator(archive.parent_path() / ".tolv-archiver-kept"))
            n += entry.is_regular_file();
        return n;
    };
    const int keptBefore = countKept();
    fs::last_write_time(source / "d2/2.jpg", fs::last_write_time(source / "d2/2.jpg") - std::chrono::hours(5));
    EXPECT_EQ(synchronize(source, archive, "0", "fast"), "copied 1 failed 0 deleted 0\n");
    EXPECT_EQ(countKept(), keptBefore);
    EXPECT_EQ(testing_support::recordComplaints(archive), "");
}

TEST(ArchiveRecordTest, ALineIsReadBackAsSha256sumWroteIt) {
    const std::string hash(64, 'a');
    for (const std::string& path : {std::string("plain.jpg"), std::string("a\\b"), std::string("new\nline"),
                                    std::string("car\rriage"), std::string("-dash {} ü.jpg")}) {
        const std::string line = ArchiveRecord::line(hash, path);
        ASSERT_EQ(line.back(), '\n');
        const auto entry = ArchiveRecord::parse(line.substr(0, line.size() - 1));
        ASSERT_TRUE(entry) << line;
        EXPECT_EQ(entry->path, path);
        EXPECT_EQ(entry->hash, hash);
        EXPECT_EQ(line.front() == '\\', path.find_first_of("\\\n\r") != std::string::npos) << line;
    }
    EXPECT_FALSE(ArchiveRecord::parse(std::string(63, 'a') + "  x"));
    EXPECT_FALSE(ArchiveRecord::parse(std::string(64, 'A') + "  x"));
    EXPECT_FALSE(ArchiveRecord::parse("\\" + hash + "  bad\\q"));
}
