// The archive read again a share a day: a 3,000-photo archive whose
// originals are gone, with three copies damaged far apart in the record's
// order, is read a thirtieth a day. Each simulated day the application is
// started anew in the future; the damage each day's share holds becomes
// the folder's error, and the next day's share goes on where the last one
// stopped.

#include "platform/preferences/UserDefaults.h"
#include "support/AppProcess.h"
#include "support/ChildrenInTheFuture.h"
#include "support/ChosenDestination.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;
using testing_support::AppProcess;
using testing_support::runToEnd;
using namespace std::chrono_literals;

namespace {

std::string photoName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "img%04d.jpg", i);
    return name;
}

void flipAByte(const fs::path& file) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    char c = 0;
    f.seekg(3);
    f.get(c);
    f.seekp(3);
    f.put(static_cast<char>(c ^ 0x20));
}

// The first folder's "archiveCheck" as the running application tells it.
QJsonObject archiveCheck() {
    const auto answer = runToEnd({"--status", "--json"});
    const auto folders = QJsonDocument::fromJson(QByteArray::fromStdString(answer.output))["slots"].toArray();
    return folders.isEmpty() ? QJsonObject{} : folders[0].toObject()["archiveCheck"].toObject();
}

std::vector<std::string> damagedOf(const QJsonObject& check) {
    std::vector<std::string> paths;
    for (const auto& path : check["damaged"].toArray()) paths.push_back(path.toString().toStdString());
    return paths;
}

} // namespace

TEST(RollingCheckTest, ReadsAThirtiethOfTheArchiveEachDayAndGoesOnAfterARestart) {
    const auto faketime = testing_support::libfaketime();
    if (!faketime) GTEST_SKIP() << "libfaketime is not installed";
    testing_support::TempHome home;
    const fs::path source = home.makeFolder("Shoot/Main"); // every original deleted long ago
    const fs::path dest = home.makeFolder("Backup");
    const fs::path archive = home.makeFolder("Backup/Main");
    for (int i = 0; i < 3000; ++i) home.writeFile("Backup/Main/" + photoName(i), "photo number " + std::to_string(i));
    home.makeFolder("Backup/.tolv-archiver-sha256");
    ASSERT_EQ(
        std::system(
            ("cd '" + archive.string() + "' && sha256sum -- *.jpg > ../.tolv-archiver-sha256/Main.sha256").c_str()),
        0);
    // Days 1, 2 and 3 of the round each hold one.
    for (int i : {10, 150, 250}) flipAByte(archive / photoName(i));

    auto& prefs = platform::UserDefaults::standard();
    testing_support::chooseDestination(dest, prefs);
    prefs.setObject("prefCameraFolderPathFormat1", source.string());
    prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
    prefs.setInteger("prefMinimumFreeSpaceMB", 0);
    prefs.synchronize();

    const std::vector<std::vector<std::string>> foundBy{
        {photoName(10)}, {photoName(10), photoName(150)}, {photoName(10), photoName(150), photoName(250)}};
    for (int day = 0; day < 3; ++day) {
        SCOPED_TRACE("day " + std::to_string(day));
        AppProcess::Options options = AppProcess::application();
        options.environment["LD_PRELOAD"] = *faketime;
        options.environment["FAKETIME"] = "+" + std::to_string(day) + "d";
        options.environment["FAKETIME_DONT_FAKE_MONOTONIC"] = "1";
        options.environment["NO_FAKE_STAT"] = "1";
        options.environment["FAKETIME_ONLY_CMDS"] = options.executable.filename().string();
        AppProcess app(options);
        QJsonObject check;
        ASSERT_TRUE(testing_support::waitUntil(
            [&] { return (check = archiveCheck())["lastShare"].toInt() > 0 && damagedOf(check) == foundBy[day]; }, 60s,
            250ms))
            << app.output() << QJsonDocument(check).toJson().toStdString();
        EXPECT_EQ(check["lastShare"].toInt(), 100) << "a thirtieth of 3,000";
        EXPECT_TRUE(check["lastReadThrough"].isNull());
        EXPECT_EQ(check["nextShare"].toObject()["copies"].toInt(), 100);

        const auto status = runToEnd({"--status"});
        EXPECT_EQ(status.status, 1) << status.output;
        EXPECT_NE(status.output.find("damaged in the archive; no other copy: " + photoName(10)), std::string::npos)
            << status.output;
        EXPECT_EQ(runToEnd({"--quit", "--force"}).status, 0);
        ASSERT_TRUE(app.waitForExit(20s).has_value());
    }
    // Nothing was written over, and the copies not damaged are as recorded.
    const std::string checkAll = "cd '" + archive.string() +
                                 "' && sha256sum --quiet -c ../.tolv-archiver-sha256/Main.sha256 2>/dev/null | wc -l";
    FILE* pipe = popen(checkAll.c_str(), "r");
    char line[32] = {};
    ASSERT_TRUE(fgets(line, sizeof line, pipe));
    pclose(pipe);
    EXPECT_EQ(std::stoi(line), 3) << "only the three damaged copies fail";
}
