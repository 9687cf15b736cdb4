#include "core/TolvExtras.h"

#include "support/StderrCapture.h"
#include "support/TaskDoneRecorder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using testing_support::StderrCapture;
using testing_support::TempHome;

namespace {

// CTest names the build's bundle; a direct run of the program needs it too,
// before anything asks for the main bundle.
const bool kBundleNamed = setenv("TOLV_BUNDLE_PATH", TOLV_TEST_BUNDLE_PATH, 0) == 0;

std::string spawnee() { return testing_support::testProgram("spawnee").string(); }

fs::path writeScript(const TempHome& home, const std::string& relative, const std::string& body) {
    fs::path file = home.writeFile(relative, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms(0755), fs::perm_options::replace);
    return file;
}

// The process's PATH for the life of the object.
class SearchPath {
public:
    explicit SearchPath(const std::string& path) : saved_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        setenv("PATH", path.c_str(), 1);
    }
    ~SearchPath() { setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

class BeepCounter {
public:
    BeepCounter() { setSystemBeepHook([this] { ++beeps; }); }
    ~BeepCounter() { setSystemBeepHook(nullptr); }
    std::atomic<int> beeps{0};
};

struct TextFile {
    fs::path path;
    bool contains(const std::string& part) const {
        return testing_support::readFile(path).find(part) != std::string::npos;
    }
};

} // namespace

TEST(TolvExtrasTest, FailedScriptGivesTaskFailedButTheQuietTwinGivesItsOutput) {
    StderrCapture log;
    const std::vector<std::string> failing{"-c", "printf 'printed text'; exit 1"};
    EXPECT_EQ(runThisShellScript("/bin/sh", failing), "Task failed.");
    EXPECT_TRUE(log.contains("runThisShellScript Task failed."));
    EXPECT_EQ(runShellScript2("/bin/sh", failing), "printed text");
    EXPECT_TRUE(log.contains("runShellScript2 Task failed."));

    EXPECT_EQ(runThisShellScript("/bin/sh", std::vector<std::string>{"-c", "printf 'fine'"}), "fine");
    EXPECT_TRUE(log.contains("runThisShellScript Task succeeded."));
    EXPECT_TRUE(log.contains("runThisShellScript got back:\nfine\n"));
}

TEST(TolvExtrasTest, ParametersOrTheirAbsenceAreLogged) {
    StderrCapture log;
    runThisShellScript(spawnee(), std::vector<std::string>{"args", "two words"});
    EXPECT_TRUE(log.contains("runThisShellScript => scriptName = [" + spawnee() + "]"));
    EXPECT_TRUE(log.contains("runThisShellScript => param:\n(\n    args,\n    two words\n)"));
    runThisShellScript(spawnee(), std::nullopt);
    EXPECT_TRUE(log.contains("runThisShellScript => NO param"));
    runShellScript2(spawnee(), std::nullopt);
    EXPECT_TRUE(log.contains("runShellScript2 => NO param"));
}

TEST(TolvExtrasTest, MissingProgramsAndBadOutputAreReportedNotRaised) {
    StderrCapture log;
    EXPECT_EQ(runThisShellScript(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_TRUE(log.contains("\n\nrunThisShellScript FAILED => scriptName==nil!\n\n"));
    EXPECT_EQ(runShellScript2(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_TRUE(log.contains("\n\nrunShellScript2 FAILED => scriptName==nil!\n\n"));
    runShellScript(std::nullopt, std::nullopt);
    EXPECT_TRUE(log.contains("\n\nrunShellScript FAILED => scriptName==nil!\n\n"));

    EXPECT_EQ(runThisShellScript("/nonexistent/script.sh", std::nullopt), "Task failed.");
    EXPECT_TRUE(log.contains("/nonexistent/script.sh: No such file or directory")) << log.text();

    // Output that is not UTF-8 decodes to nothing.
    EXPECT_EQ(runShellScript2("/bin/sh", std::vector<std::string>{"-c", "printf 'ok\\377'"}), std::nullopt);
    EXPECT_EQ(runThisShellScript("/bin/sh", std::vector<std::string>{"-c", "printf '\\300\\257'"}), std::nullopt);
    EXPECT_EQ(runShellScript2("/bin/sh", std::vector<std::string>{"-c", "printf 'Ærø ✓ 😀'"}), "Ærø ✓ 😀");
}

TEST(TolvExtrasTest, LargeOutputIsReadWhole) {
    StderrCapture log; // runThisShellScript logs what it got back
    const size_t size = 4u << 20;
    for (auto run : {&runThisShellScript, &runShellScript2}) {
        auto output = run(spawnee(), std::vector<std::string>{"bytes", std::to_string(size)});
        ASSERT_TRUE(output);
        ASSERT_EQ(output->size(), size);
        std::string expected(size, '\0');
        for (size_t i = 0; i < size; ++i) expected[i] = static_cast<char>('a' + i % 26);
        EXPECT_TRUE(*output == expected);
    }
}

TEST(TolvExtrasTest, BundleScriptsAreFoundAsExecutableThenAsResource) {
    TempHome home;
    fs::path marks = home.makeFolder("marks");
    writeScript(home, "Fake.app/Contents/MacOS/both.sh", "echo executable > \"$1/both\"");
    writeScript(home, "Fake.app/Contents/Resources/both.sh", "echo resource > \"$1/both\"");
    writeScript(home, "Fake.app/Contents/Resources/only.sh", "echo resource > \"$1/only\"");
    home.writeFile("Fake.app/Contents/Resources/plain.sh", "#!/bin/sh\necho ran > \"$1/plain\"\n");
    StderrCapture log;
    platform::Bundle bundle(home.path() / "Fake.app");
    std::vector<std::string> where{marks.string()};

    runShellScript(bundle, "both.sh", where);
    runShellScript(bundle, "only.sh", where);
    EXPECT_EQ(testing_support::readFile(marks / "both"), "executable\n");
    EXPECT_EQ(testing_support::readFile(marks / "only"), "resource\n");

    runShellScript(bundle, "missing.sh", where);
    EXPECT_TRUE(log.contains("\n\nrunShellScript FAILED => UNABLE to find script named: [missing.sh]!\n\n"));

    // Without execute permission it cannot start; that is logged, not raised.
    runShellScript(bundle, "plain.sh", where);
    EXPECT_FALSE(fs::exists(marks / "plain"));
    EXPECT_TRUE(log.contains("plain.sh: Permission denied")) << log.text();
}

class RevealTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kBundleNamed);
        nohup = fs::path("/usr/bin/nohup");
        if (!fs::exists(nohup)) nohup = "/bin/nohup";
    }
    // A folder standing in for PATH, with a fake opener that writes its
    // arguments where the test can read them.
    fs::path fakeOpener(const std::string& name) {
        fs::path bin = home.makeFolder("bin-" + name);
        fs::create_symlink(nohup, bin / "nohup");
        writeScript(home, "bin-" + name + "/" + name, "printf '%s|' \"$@\" > \"" + opened.path.string() + "\"");
        return bin;
    }

    TempHome home;
    fs::path nohup;
    TextFile opened{home.path() / "opened"};
};

TEST_F(RevealTest, FolderOpensWithXdgOpenOrGio) {
    fs::path folder = home.makeFolder("home/Pictures/Shoot 1");
    {
        SearchPath path(fakeOpener("xdg-open").string());
        revealItemInFinder("~/Pictures/Shoot 1");
        EXPECT_TRUE(testing_support::waitUntilContains(opened, folder.string() + "|"));
    }
    fs::remove(opened.path);
    {
        SearchPath path(fakeOpener("gio").string());
        revealItemInFinder(folder.string());
        EXPECT_TRUE(testing_support::waitUntilContains(opened, "open|" + folder.string() + "|"));
    }
}

TEST_F(RevealTest, NoOpenerIsLoggedAsAFailedScript) {
    fs::path folder = home.makeFolder("folder");
    SearchPath path(home.makeFolder("empty-bin").string());
    StderrCapture log;
    revealItemInFinder(folder.string());
    EXPECT_TRUE(log.contains("neither xdg-open nor gio is installed")) << log.text();
    EXPECT_TRUE(log.contains("runThisShellScript Task failed."));
}

TEST_F(RevealTest, AnythingButAFolderBeeps) {
    home.writeFile("file.txt", "x");
    SearchPath path(fakeOpener("xdg-open").string());
    StderrCapture log;
    {
        BeepCounter counter;
        for (std::optional<std::string> p : {std::optional<std::string>((home.path() / "file.txt").string()),
                                             std::optional<std::string>(""), std::optional<std::string>("~/missing"),
                                             std::optional<std::string>()})
            revealItemInFinder(p);
        EXPECT_EQ(counter.beeps, 4);
    }
    EXPECT_FALSE(fs::exists(opened.path));
    EXPECT_TRUE(log.contains("User Needs to Select a Valid Existing Folder..."));
    EXPECT_TRUE(log.contains("Inside revealItemInFinder...revealItemInFinder => (null)..."));
    // Until the user interface connects the beep, it is logged.
    revealItemInFinder(std::nullopt);
    EXPECT_TRUE(log.contains("systemBeep"));
}

TEST(TolvExtrasTest, LogDayTurnsAtThreeInTheMorning) {
    setenv("TZ", "Europe/Oslo", 1);
    tzset();
    auto at = [](int hour, int minute) { // 8 March 2012, local time (UTC+1 in winter)
        return platform::Date(std::chrono::seconds(1331164800 - 3600 + hour * 3600 + minute * 60));
    };
    EXPECT_EQ(computeCurrentDaysFolderString2(3, 0, at(2, 30)), "2012-03-07");
    EXPECT_EQ(computeCurrentDaysFolderString2(3, 0, at(2, 59)), "2012-03-07");
    EXPECT_EQ(computeCurrentDaysFolderString2(3, 0, at(3, 0)), "2012-03-08");
    EXPECT_EQ(computeCurrentDaysFolderString2(0, 0, at(0, 0)), "2012-03-08");
    EXPECT_EQ(computeCurrentDaysFolderString2(0, 30, at(0, 15)), "2012-03-07");
    unsetenv("TZ");
    tzset();
}
