// What the user sees of each folder: the rows' state lines, --status for
// scripts, and the problems that reach the window's title and the log.

#include "app/lifecycle/AppDelegate.h"
#include "app/instance/InstanceRequests.h"
#include "core/ArchiveRecord.h"
#include "platform/runtime/Sha256.h"
#include "station/ArchiveReading.h"
#include "station/Station.h"
#include "folders/SelectFolderNSViewController.h"
#include "support/ChosenDestination.h"
#include "support/MainWindowFixture.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"
#include "pass/PassResult.h"
#include "watch/WatcherNSObject.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::drainEvents;
using testing_support::processEventsUntil;

class VisibleStateTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        testing_support::chooseDestination(home.makeFolder("Backup"));
        for (int slot : {1, 2}) {
            const std::string n = std::to_string(slot);
            prefs().setObject("prefCameraFolderPathFormat" + n, home.makeFolder("Shoot/S" + n).string());
            prefs().setBool("prefCameraFolderPathAliasDataIsValidFormat" + n, true);
        }
        launch();
    }

    static PassResult result(const std::string& error, std::optional<platform::Date> oldest = std::nullopt) {
        PassResult r;
        r.ended = std::chrono::system_clock::now();
        r.copied = 4;
        r.error = error;
        r.oldestUnarchived = oldest;
        return r;
    }
    // As a watcher leaves it at the end of a pass.
    void store(int slot, const PassResult& r) {
        r.store(slot);
        platform::NotificationCenter::defaultCenter().post(kWatcherPassEnded, nullptr,
                                                           platform::UserInfo{{kUserInfoIndex, std::int32_t(slot)}});
        drainEvents();
    }
    InstanceRequests::Reply status(bool json) {
        InstanceRequests requests(delegate, window.get(), window->toggleButton(), false);
        return requests.answer(CommandLine::parse({"Tolv-Archiver", "--status", json ? "--json" : "--status"}));
    }
    bool watching(int slot) { return row(slot)._watcherObj() && row(slot)._watcherObj()->_CFRunLoopRef(); }
};

TEST_F(VisibleStateTest, StatusForScriptsMatchesTheRows) {
    store(1, result(""));
    store(2, result("2 copies failed"));
    auto reply = status(true);
    EXPECT_EQ(reply.status, 1); // a slot in error
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(reply.text), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << reply.text;
    const QJsonObject top = doc.object();
    EXPECT_TRUE(top["destination"].toObject()["present"].toBool());
    EXPECT_GT(top["destination"].toObject()["freeBytes"].toDouble(), 0);
    const QJsonArray slotList = top["slots"].toArray();
    ASSERT_EQ(slotList.size(), 3);
    const std::map<QString, std::string> titles{{"off", "Off"}, {"watching", "Watching"}, {"error", "Error: "}};
    for (const auto& value : slotList) {
        const QJsonObject s = value.toObject();
        const int slot = s["index"].toInt();
        SCOPED_TRACE(slot);
        const std::string line = row(slot).stateLineShown();
        std::string title = titles.at(s["state"].toString());
        if (s["state"] == "error") title += s["error"].toString().toStdString();
        EXPECT_EQ(line.substr(0, title.size()), title) << line;
        EXPECT_EQ(s["watching"].toBool(), watching(slot));
        if (slot != 3)
            EXPECT_EQ(s["lastPass"].toObject()["copied"].toInt(), 4);
        else
            EXPECT_TRUE(s["lastPass"].isNull());
    }
    EXPECT_EQ(slotList[1].toObject()["error"].toString(), "2 copies failed");

    EXPECT_NE(row(0).stateLineShown().find(" GB free"), std::string::npos) << row(0).stateLineShown();

    store(2, result(""));
    EXPECT_EQ(status(false).status, 0);
    EXPECT_EQ(row(2).stateLineShown().find("Error"), std::string::npos);
}

// Every moment in the JSON is RFC 3339 in UTC, as scripts' parsers take it
// (jq's fromdateiso8601 reads exactly this form); what never happened is null.
TEST_F(VisibleStateTest, StatusJsonTimesAreRfc3339OrNull) {
    const auto isRfc3339 = [](const QJsonValue& v) {
        std::tm tm{};
        const std::string text = v.toString().toStdString();
        const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
        return v.isString() && end && *end == '\0';
    };
    auto json = [&] { return QJsonDocument::fromJson(QByteArray::fromStdString(status(true).text)).object(); };

    QJsonObject top = json();
    EXPECT_TRUE(top["lastScheduledStart"].isNull());
    EXPECT_TRUE(top["schedule"].toObject()["next"].isNull());
    EXPECT_TRUE(top["slots"].toArray()[2].toObject()["lastPass"].isNull());

    store(1, result(""));
    prefs().setObject(sPrefDailyScheduledTime, platform::Value(std::chrono::system_clock::now()));
    prefs().setBool(kPrefDidSetSchedule, true);
    prefs().setObject(kPrefLastScheduledStart, platform::Value(std::chrono::system_clock::now()));
    top = json();
    EXPECT_TRUE(isRfc3339(top["lastScheduledStart"])) << top["lastScheduledStart"].toString().toStdString();
    EXPECT_TRUE(isRfc3339(top["schedule"].toObject()["next"]));
    EXPECT_TRUE(isRfc3339(top["slots"].toArray()[0].toObject()["lastPass"].toObject()["ended"]));
}

TEST_F(VisibleStateTest, TheRowsAndTheStatusUseTheResultTheWatcherHandsOver) {
    // Not stored: what the row and the report show is what the watcher told them.
    platform::NotificationCenter::defaultCenter().post(
        kWatcherPassEnded, nullptr,
        platform::UserInfo{{kUserInfoIndex, std::int32_t(1)}, {kUserInfoPassResult, result("5 copies failed")}});
    drainEvents();
    EXPECT_FALSE(PassResult::load(1).has_value());
    EXPECT_EQ(row(1).stateLineShown().rfind("Error: 5 copies failed", 0), 0u) << row(1).stateLineShown();
    EXPECT_EQ(status(false).status, 1);
}

TEST_F(VisibleStateTest, EachNewProblemIsToldOnceAndTheTitleShowsItWhileItLasts) {
    const auto began = std::chrono::steady_clock::now(); // the launch was before
    ProblemReporter& reporter = delegate->station().problems();
    testing_support::StderrCapture log;
    store(1, result("3 copies failed"));
    reporter.review();
    reporter.review(); // a minute later: the same problem is not told again
    EXPECT_EQ(log.count("ERROR: Main Images: 3 copies failed"), 1u) << log.text();
    EXPECT_NE(window->windowTitle().toStdString().find("Main Images: 3 copies failed"), std::string::npos);

    // A watched folder whose oldest unarchived photo is two hours old. The
    // switch-on passes end first (they find nothing to archive), then the
    // results are what the test says.
    std::atomic<int> ended{0};
    // The launch's own stop requests (0.1 s and 0.2 s after it) must not
    // switch watching off again behind the test's back.
    ASSERT_TRUE(processEventsUntil([&] { return std::chrono::steady_clock::now() - began > 300ms; }));
    platform::NotificationCenter::defaultCenter().addObserver(&ended, kWatcherPassEnded, [&](const auto&) { ++ended; });
    platform::NotificationCenter::defaultCenter().post(kWatcherDoStartAll);
    ASSERT_TRUE(processEventsUntil([&] { return watching(2) && ended >= 2; }));
    platform::NotificationCenter::defaultCenter().removeObserver(&ended);
    store(1, result("3 copies failed"));
    store(2, result("", std::chrono::system_clock::now() - 2h));
    reporter.review();
    EXPECT_EQ(reporter.problems().size(), 2u);
    EXPECT_NE(reporter.problems().at(2).find("waited 120 minutes"), std::string::npos);
    EXPECT_NE(row(2).stateLineShown().find("120 min old"), std::string::npos) << row(2).stateLineShown();

    store(1, result(""));
    store(2, result(""));
    reporter.review();
    EXPECT_TRUE(reporter.problems().empty());
    EXPECT_EQ(window->windowTitle().toStdString(), TOLV_APP_NAME);
    platform::NotificationCenter::defaultCenter().post(kWatcherDoStopAll);
}

// The destination's problem stops every folder: each row says so, the
// destination row says what is wrong, and the user is told once.
TEST_F(VisibleStateTest, ADestinationThatIsNotTheArchiveStopsEveryFolderAndIsToldOnce) {
    ProblemReporter& reporter = delegate->station().problems();
    testing_support::StderrCapture log;
    const fs::path backup = home.path() / "Backup";
    fs::remove_all(backup / ".tolv-archiver-destination"); // what an unmounted disk's empty mount point looks like
    store(1, result("destination not mounted")); // a pass met it first: the destination is looked at again
    ASSERT_TRUE(processEventsUntil([&] {
        return row(2).stateLineShown().starts_with("Error: destination not mounted");
    })) << row(2).stateLineShown();
    EXPECT_TRUE(row(1).stateLineShown().starts_with("Error: destination not mounted")) << row(1).stateLineShown();
    EXPECT_EQ(row(0).stateLineShown(), "Not mounted · Try again");
    reporter.review();
    EXPECT_EQ(log.count("ERROR: Destination/Backup: destination not mounted"), 1u) << log.text();
    EXPECT_EQ(log.count("ERROR: Main Images"), 0u) << log.text();
    EXPECT_NE(window->windowTitle().toStdString().find("Destination/Backup: destination not mounted"),
              std::string::npos);

    auto reply = status(true);
    EXPECT_EQ(reply.status, 1);
    const QJsonObject destination =
        QJsonDocument::fromJson(QByteArray::fromStdString(reply.text)).object()["destination"].toObject();
    EXPECT_FALSE(destination["present"].toBool());
    EXPECT_TRUE(destination["freeBytes"].isNull()); // the system disk's space is not the archive's
    EXPECT_EQ(destination["problem"].toString(), "destination not mounted");

    testing_support::chooseDestination(backup); // chosen again in the window
    ASSERT_TRUE(processEventsUntil([&] { return row(0).stateLineShown().find(" GB free") != std::string::npos; }));
    // Every row hears of it; watched folders are archived at once meanwhile.
    EXPECT_TRUE(processEventsUntil([&] {
        reporter.review();
        return reporter.problems().empty();
    }));
    EXPECT_EQ(status(false).status, 0);
}

} // namespace

namespace {

// A long pass of the per-file engine counts up on its row and in --status
// --json, and ends at its total.
TEST_F(VisibleStateTest, ALongPassCountsUpOnItsRowAndForScripts) {
    prefs().setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs().setInteger(kPrefMinimumFreeSpaceMB, 0);
    const int files = 200;
    for (int i = 0; i < files; ++i) home.writeFile("Shoot/S1/IMG_" + std::to_string(i) + ".jpg", "p");
    std::vector<std::int64_t> rowCounts, scriptCounts;
    const std::string ofTotal = " of " + std::to_string(files);
    // Watching is off after every launch: the start-up's stop first (the
    // photos may be counted as waiting by then).
    ASSERT_TRUE(processEventsUntil([&] {
        const std::string line = row(1).stateLineShown();
        return line.starts_with("Off") || line.starts_with("Not watched");
    }))
        << row(1).stateLineShown();

    platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
    ASSERT_TRUE(processEventsUntil([&] {
        const std::string line = row(1).stateLineShown();
        if (const auto at = line.find(ofTotal); at != std::string::npos && line.starts_with("Archiving "))
            rowCounts.push_back(std::stoll(line.substr(10, at - 10)));
        const QJsonObject slot = QJsonDocument::fromJson(QByteArray::fromStdString(status(true).text))
                                     .object()["slots"].toArray()[0].toObject();
        if (slot["progress"].isObject()) {
            EXPECT_EQ(slot["progress"].toObject()["total"].toInt(), files);
            scriptCounts.push_back(slot["progress"].toObject()["done"].toInteger());
        }
        return testing_support::readFile(home.path() / "Backup/S1/IMG_199.jpg") == "p" &&
               !row(1)._watcherObj()->_insideFoundItemLoop();
    }, 120s));
    ASSERT_FALSE(rowCounts.empty());
    ASSERT_FALSE(scriptCounts.empty());
    EXPECT_TRUE(std::is_sorted(rowCounts.begin(), rowCounts.end()));
    EXPECT_TRUE(std::is_sorted(scriptCounts.begin(), scriptCounts.end()));
    EXPECT_GT(rowCounts.back(), rowCounts.front()) << "the count rose";
    EXPECT_GT(scriptCounts.back(), scriptCounts.front()) << "the count rose";
    EXPECT_TRUE(processEventsUntil([&] { return row(1).stateLineShown().find(ofTotal) == std::string::npos; }))
        << "the count goes with the pass";
}

} // namespace

// "Check Archive…" reads every copy: the damaged one without an original
// becomes the row's error and is in the status for scripts; the one whose
// original the source still holds is made again, its damaged version kept,
// and the kept versions are counted with the destination.
TEST_F(VisibleStateTest, CheckingTheArchiveNamesTheDamageOnTheRowAndMendsWhatItCan) {
    const fs::path archive = home.makeFolder("Backup/S1");
    auto record = ArchiveRecord::load(archive);
    ASSERT_TRUE(record);
    for (const std::string name : {"gone.jpg", "kept.jpg", "sound.jpg"})
        record->set(name, *platform::sha256OfFile(home.writeFile("Backup/S1/" + name, "photo " + name)), true);
    ASSERT_TRUE(record->save());
    home.writeFile("Backup/S1/gone.jpg", "bit rot");
    home.writeFile("Backup/S1/kept.jpg", "bit rot");
    home.writeFile("Shoot/S1/kept.jpg", "photo kept.jpg");
    home.writeFile("Backup/.tolv-archiver-kept/2026-01-01 10-00-00.000/S1/old.jpg", "an older version");
    ASSERT_TRUE(processEventsUntil([&] {
        return delegate->station().destinationState() && !delegate->station().slot(1)->busy() &&
               !delegate->station().slot(2)->busy();
    }));
    // The day's share may be under way: the check begins once it has ended.
    ASSERT_TRUE(processEventsUntil([&] { return !delegate->station().archiveReading()->reading(); }));
    delegate->checkArchive();
    EXPECT_TRUE(dialogs->alerts().empty()) << dialogs->alerts().front().informativeText;
    ASSERT_TRUE(processEventsUntil([&] {
        return row(1).stateLineShown().find("damaged in the archive; no other copy: gone.jpg") != std::string::npos;
    })) << row(1).stateLineShown();
    EXPECT_EQ(testing_support::readFile(archive / "kept.jpg"), "photo kept.jpg");
    EXPECT_EQ(testing_support::readFile(archive / "gone.jpg"), "bit rot") << "the only copy is left as it is";
    const auto json = QJsonDocument::fromJson(QByteArray::fromStdString(status(true).text));
    const auto check = json["slots"].toArray()[0].toObject()["archiveCheck"].toObject();
    EXPECT_EQ(check["damaged"].toArray(), QJsonArray{"gone.jpg"});
    EXPECT_TRUE(check["reading"].isNull());
    EXPECT_EQ(status(false).status, 1);
    ASSERT_TRUE(processEventsUntil([&] {
        return row(0).stateLineShown().find("2 kept versions") != std::string::npos;
    })) << row(0).stateLineShown();
    const auto kept =
        QJsonDocument::fromJson(QByteArray::fromStdString(status(true).text))["destination"]["keptVersions"];
    EXPECT_EQ(kept["count"].toInt(), 2);
    EXPECT_EQ(kept["bytes"].toInt(), std::string("an older version").size() + std::string("bit rot").size());
}
