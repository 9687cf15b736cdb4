#include "log/OVLogFileManager.h"

#include "platform/runtime/Task.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/utsname.h>

namespace fs = std::filesystem;
using platform::Value;
using testing_support::StderrCapture;
using testing_support::TempHome;

namespace {

const std::string kRule(59, '=');

// CTest names the build's bundle; a direct run of the program needs it too,
// before anything asks for the main bundle.
const bool kBundleNamed = setenv("TOLV_BUNDLE_PATH", TOLV_TEST_BUNDLE_PATH, 0) == 0;

void useBuildBundle() { ASSERT_TRUE(kBundleNamed); }

fs::path writeBundle(const TempHome& home, const std::string& name, const Value::Dictionary& info) {
    fs::path bundle = home.makeFolder(name);
    fs::create_directories(bundle / "Contents");
    EXPECT_TRUE(Value(info).writePlistFile(bundle / "Contents/Info.plist"));
    return bundle;
}

fs::path writeAgedFile(const fs::path& file, std::chrono::hours age) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "old log";
    fs::last_write_time(file, fs::file_time_type::clock::now() - age);
    return file;
}

std::chrono::hours days(int n) { return std::chrono::hours(24 * n); }

// Runs one launch of the log set-up in a process of its own.
void runSession(const std::string& tag, std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), tag);
    auto out = platform::Task::runCapturingOutput(
        {.path = testing_support::testProgram("logsession"), .arguments = extra, .workingDirectory = std::nullopt});
    ASSERT_EQ(out.termination.status, 0);
}

std::string osReleaseVersion() {
    std::ifstream in("/etc/os-release");
    std::string version, line;
    while (std::getline(in, line)) {
        for (const std::string key : {"VERSION_ID=", "VERSION="}) {
            if (line.rfind(key, 0) == 0 && (key == "VERSION_ID=" || version.empty())) {
                version = line.substr(key.size());
                if (version.size() >= 2 && version.front() == '"') version = version.substr(1, version.size() - 2);
            }
        }
    }
    return version;
}

class LogCleanUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        useBuildBundle();
        OVLogFileManager::getApplicationName();
    }
    fs::path logs() const { return OVLogFileManager::logFolder(); }
    fs::path trashed(const std::string& name) const { return home.home() / ".local/share/Trash/files" / name; }
    OVLogFileManager::Options weekOld(bool immediately) const {
        return {{"deleteSubDirectory", Value(true)},
                {"deleteImmediately", Value(immediately)},
                {"beforeDate", Value(std::chrono::system_clock::now() - days(7))}};
    }
    TempHome home;
};

} // namespace

TEST(OVLogFileManagerTest, NamesAndVersionComeFromTheBundle) {
    TempHome home;
    auto name = [&](const Value::Dictionary& info) {
        static int n = 0;
        return OVLogFileManager::getApplicationName(platform::Bundle(writeBundle(home, "B" + std::to_string(++n) + ".app", info)));
    };
    EXPECT_EQ(name({{"CFBundleExecutable", Value("Tolv-Archiver")}, {"CFBundleDisplayName", Value("Shown")}}), "Tolv-Archiver");
    EXPECT_EQ(name({{"CFBundleExecutable", Value("Runner.bin")}}), "Runner");
    EXPECT_EQ(name({{"CFBundleDisplayName", Value("Shown Name")}}), "Shown Name");
    EXPECT_EQ(name({}), "TolvArchiverLogFile");

    platform::Bundle versioned(writeBundle(home, "V.app", {{"CFBundleShortVersionString", Value("1.2")}, {"CFBundleVersion", Value("345")}}));
    EXPECT_EQ(OVLogFileManager::getCopyrightInfo(versioned), "1.2 (345)");
    EXPECT_FALSE(OVLogFileManager::getCopyrightInfo(platform::Bundle(home.path() / "none.app")).empty());
}

TEST(OVLogFileManagerTest, LogDayStartsAtThreeInTheMorning) {
    TempHome home;
    useBuildBundle();
    ASSERT_EQ(OVLogFileManager::getApplicationName(), "Tolv-Archiver");
    setenv("TZ", "UTC", 1);
    tzset();
    auto at = [](int day, int hour, int minute) {
        return platform::Date(std::chrono::seconds(1330560000 + (day - 1) * 86400 + hour * 3600 + minute * 60)); // March 2012
    };
    fs::path folder = home.home() / "Library/Logs/Tolv";
    EXPECT_EQ(OVLogFileManager::logFolder(), folder);
    EXPECT_EQ(OVLogFileManager::logFilePath(at(7, 10, 15)), folder / "Tolv-Archiver_2012-03-07.log");
    EXPECT_EQ(OVLogFileManager::logFilePath(at(8, 2, 30)), folder / "Tolv-Archiver_2012-03-07.log");
    EXPECT_EQ(OVLogFileManager::logFilePath(at(8, 2, 59)), folder / "Tolv-Archiver_2012-03-07.log");
    EXPECT_EQ(OVLogFileManager::logFilePath(at(8, 3, 0)), folder / "Tolv-Archiver_2012-03-08.log");
    unsetenv("TZ");
    tzset();
}

TEST(OVLogFileManagerTest, LaunchesOfOneDayAppendWithOneBannerEach) {
    TempHome home;
    useBuildBundle();
    runSession("one");
    runSession("two");
    auto files = std::vector<fs::path>(fs::directory_iterator(home.home() / "Library/Logs/Tolv"), {});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("Tolv-Archiver_", 0), 0u);
    std::string text = testing_support::readFile(files[0]);

    size_t first = text.find("session one"), second = text.find("session two");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_NE(text.find("child of session one\n"), std::string::npos) << "children write into the log too";
    size_t banners = 0;
    for (size_t at = text.find(kRule); at != std::string::npos; at = text.find(kRule, at + 1)) ++banners;
    EXPECT_EQ(banners, 4u); // each banner opens and closes with a rule

    struct utsname u {};
    uname(&u);
    EXPECT_NE(text.find(" (" + std::string(u.machine) + ")\n"), std::string::npos);
    EXPECT_NE(text.find("Linux: v" + osReleaseVersion() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Tolv-Archiver => "), std::string::npos);
    EXPECT_EQ(text.find("runShellScript2 failed"), std::string::npos);
}

TEST(OVLogFileManagerTest, CleanUpNeverRemovesTheFileBeingWritten) {
    TempHome home;
    useBuildBundle();
    fs::path folder = home.home() / "Library/Logs/Tolv";
    fs::path yesterday = writeAgedFile(folder / "Tolv-Archiver_yesterday.log", std::chrono::hours(1));
    runSession("cleaning", {"cleanup"});
    EXPECT_FALSE(fs::exists(yesterday));
    auto files = std::vector<fs::path>(fs::directory_iterator(folder), {});
    ASSERT_EQ(files.size(), 1u);
    std::string text = testing_support::readFile(files[0]);
    EXPECT_NE(text.find("session cleaning"), std::string::npos);
    EXPECT_NE(text.find("Item DELETED: [Tolv-Archiver_yesterday.log]"), std::string::npos);
    EXPECT_NE(text.find("Item KEPT, this run is writing into it: [" + files[0].filename().string() + "]"), std::string::npos) << text;
}

TEST(OVLogFileManagerTest, LogFolderThatCannotBeMadeLeavesLoggingAlone) {
    TempHome home;
    useBuildBundle();
    std::ofstream(home.home() / "Library") << "a file where the folder belongs";
    StderrCapture log;
    EXPECT_TRUE(OVLogFileManager::setupLogFile());
    EXPECT_TRUE(log.contains("createDirectoryAtPath returned error: ")) << log.text();
    EXPECT_TRUE(OVLogFileManager::currentLogFile().empty());
}

TEST_F(LogCleanUpTest, WeekOldFilesGoWhereverTheyAreAndOthersStay) {
    fs::path eightDays = writeAgedFile(logs() / "Tolv-Archiver_2012-03-01.log", days(8));
    fs::path sixDays = writeAgedFile(logs() / "Tolv-Archiver_2012-03-03.log", days(6));
    fs::path nested = writeAgedFile(logs() / "old/deeper/Tolv-Archiver_2012-02-01.log", days(30));
    fs::path otherCase = writeAgedFile(logs() / "TOLV-archiver_2012-01-01.log", days(30));
    fs::path foreign = writeAgedFile(logs() / "Other_2000-01-01.log", days(3000));
    fs::create_directories(logs() / "Tolv-Archiver_folder");
    fs::create_directories(logs() / "empty");
    StderrCapture log;

    OVLogFileManager::deleteOldLogsWithOptions(weekOld(true));

    EXPECT_FALSE(fs::exists(eightDays));
    EXPECT_FALSE(fs::exists(nested));
    EXPECT_FALSE(fs::exists(otherCase));
    EXPECT_TRUE(fs::exists(sixDays));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_TRUE(fs::exists(logs() / "Tolv-Archiver_folder"));
    EXPECT_TRUE(fs::exists(logs() / "empty"));
    EXPECT_TRUE(fs::exists(logs() / "old/deeper"));
    EXPECT_TRUE(log.contains("Item DELETED: [Tolv-Archiver_2012-03-01.log]"));
    EXPECT_FALSE(fs::exists(trashed("Tolv-Archiver_2012-03-01.log")));
}

TEST_F(LogCleanUpTest, WithoutImmediatelyFilesGoToTheTrash) {
    fs::path old = writeAgedFile(logs() / "Tolv-Archiver_2012-03-01.log", days(8));
    StderrCapture log;
    OVLogFileManager::deleteOldLogsWithOptions(weekOld(false));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(testing_support::readFile(trashed("Tolv-Archiver_2012-03-01.log")), "old log");
    EXPECT_TRUE(log.contains("Item Moved To Trash: [Tolv-Archiver_2012-03-01.log]"));
}

TEST_F(LogCleanUpTest, EmptyOptionsMeanTopLevelThreeDaysAndTrash) {
    fs::path fourDays = writeAgedFile(logs() / "Tolv-Archiver_a.log", days(4));
    fs::path twoDays = writeAgedFile(logs() / "Tolv-Archiver_b.log", days(2));
    fs::path nested = writeAgedFile(logs() / "sub/Tolv-Archiver_c.log", days(4));
    OVLogFileManager::deleteOldLogsWithOptions({});
    EXPECT_FALSE(fs::exists(fourDays));
    EXPECT_TRUE(fs::exists(trashed("Tolv-Archiver_a.log")));
    EXPECT_TRUE(fs::exists(twoDays));
    EXPECT_TRUE(fs::exists(nested));
}

TEST_F(LogCleanUpTest, OtherFoldersBaseNamesAndBadInputs) {
    fs::path elsewhere = home.makeFolder("elsewhere");
    fs::path match = writeAgedFile(elsewhere / "custom-1.txt", days(10));
    fs::path keep = writeAgedFile(elsewhere / "Tolv-Archiver_1.log", days(10));
    OVLogFileManager::deleteOldLogsWithOptions({{"sourcePath", Value("~/../elsewhere")},
                                                {"baseName", Value("CUSTOM")},
                                                {"deleteImmediately", Value(true)}});
    EXPECT_FALSE(fs::exists(match));
    EXPECT_TRUE(fs::exists(keep));

    StderrCapture log;
    OVLogFileManager::deleteOldLogsWithOptions({{"baseName", Value("")}});
    EXPECT_TRUE(log.contains("no base name"));
    OVLogFileManager::deleteOldLogsWithOptions({{"sourcePath", Value("/nonexistent/logs")}, {"beforeDate", Value(42)}});
    OVLogFileManager::deleteItem((elsewhere / "vanished.log").string(), std::chrono::system_clock::now(), "vanished", true);
    EXPECT_TRUE(log.contains("testDirectory=> curItem does NOT exist: " + (elsewhere / "vanished.log").string() + "\n"));
    EXPECT_TRUE(fs::exists(keep));
}

TEST(OVLogFileManagerTest, MachineIsNamedWithItsArchitecture) {
    struct utsname u {};
    uname(&u);
    std::string text = OVLogFileManager::hostModelAndArch();
    std::string suffix = " (" + std::string(u.machine) + ")";
    ASSERT_GT(text.size(), suffix.size());
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
    std::ifstream dmi("/sys/devices/virtual/dmi/id/product_name");
    std::string model;
    std::getline(dmi, model);
    while (!model.empty() && std::isspace(static_cast<unsigned char>(model.back()))) model.pop_back();
    if (model.empty()) model = "unknown";
    EXPECT_EQ(text.substr(0, text.size() - suffix.size()), model);
}
