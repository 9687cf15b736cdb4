#include "platform/preferences/UserDefaults.h"

#include "platform/preferences/PreferenceSnapshot.h"

#include "platform/preferences/PlistSamples.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::UserDefaults;
using platform::Value;
using testing_support::readFile;
using testing_support::TempHome;

namespace {

// Sends standard error, where the platform log writes, into a file for the
// lifetime of the object.
class CapturedLog {
public:
    explicit CapturedLog(const fs::path& file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~CapturedLog() { restore(); }
    std::string text() {
        restore();
        return readFile(file_);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    fs::path file_;
    int saved_ = -1;
};

// A folder in which no entry can be made or renamed. The immutable flag
// holds for root too, which plain permission bits do not.
class LockedFolder {
public:
    explicit LockedFolder(const fs::path& folder) : folder_(folder) {
        if (setImmutable(true)) {
            locked_ = true;
        } else if (::geteuid() != 0) {
            fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
            locked_ = chmodded_ = true;
        }
    }
    ~LockedFolder() {
        if (chmodded_) fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
        else if (locked_) setImmutable(false);
    }
    bool locked() const { return locked_; }

private:
    bool setImmutable(bool on) {
        int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }
    fs::path folder_;
    bool locked_ = false;
    bool chmodded_ = false;
};

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(10)) {
    return testing_support::waitUntil(done, timeout);
}

Value onDisk(const fs::path& file) { return Value::readPlistFile(file).value_or(Value()); }

std::vector<fs::path> damagedCopies(const fs::path& file) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().rfind(file.filename().string() + ".damaged-", 0) == 0)
            found.push_back(entry.path());
    return found;
}

} // namespace

TEST(UserDefaultsTest, AbsentKeysReadAsNoneNoAndZero) {
    TempHome home;
    UserDefaults& defaults = UserDefaults::standard();
    EXPECT_TRUE(defaults.objectForKey("prefNothing").isNone());
    EXPECT_EQ(defaults.stringForKey("prefNothing"), std::nullopt);
    EXPECT_FALSE(defaults.boolForKey("prefNothing"));
    EXPECT_EQ(defaults.integerForKey("prefNothing"), 0);
    EXPECT_EQ(defaults.doubleForKey("prefNothing"), 0.0);
    // Reading creates no file.
    EXPECT_FALSE(fs::exists(UserDefaults::standardFilePath()));
}

// A snapshot keeps the values of its moment; a key it was not made with is
// read from the store when asked.
TEST(UserDefaultsTest, ASnapshotKeepsItsMomentAndReadsOtherKeysLive) {
    TempHome home;
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setObject("prefA", Value("before"));
    defaults.setInteger("prefB", 3);
    const auto snapshot = platform::PreferenceSnapshot::read({"prefA", "prefB", "prefAbsent"});
    defaults.setObject("prefA", Value("after"));
    defaults.setObject("prefLater", Value("live"));
    EXPECT_EQ(snapshot.string("prefA"), "before");
    EXPECT_EQ(snapshot.object("prefB").toInteger(), 3);
    EXPECT_TRUE(snapshot.object("prefAbsent").isNone());
    EXPECT_EQ(snapshot.string("prefLater"), "live");
}

TEST(UserDefaultsTest, StandardFileFollowsXdgConfigHomeAndHome) {
    TempHome home;
    const std::string name = "com.orvane.tolv-archiver.plist";
    EXPECT_EQ(UserDefaults::standardFilePath(), home.home() / ".config" / name);
    setenv("XDG_CONFIG_HOME", (home.path() / "elsewhere/deeper").c_str(), 1);
    EXPECT_EQ(UserDefaults::standardFilePath(), home.path() / "elsewhere/deeper" / name);
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(UserDefaults::standardFilePath(), home.home() / ".config" / name);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::standardFilePath(), home.home() / ".config" / name);

    // The folder is made on the first write.
    setenv("XDG_CONFIG_HOME", (home.path() / "elsewhere/deeper").c_str(), 1);
    UserDefaults::resetStandard();
    UserDefaults::standard().setInteger("prefDaysToSaveLogs", 3);
    EXPECT_TRUE(UserDefaults::standard().synchronize());
    EXPECT_EQ(onDisk(home.path() / "elsewhere/deeper" / name)["prefDaysToSaveLogs"], Value(3));
}

TEST(UserDefaultsTest, EveryValueTypeSurvivesSynchronizeAndAFreshStore) {
    TempHome home;
    const Value sample = plist_samples::expected();
    for (const auto& [key, value] : *sample.dictionary()) UserDefaults::standard().setObject(key, value);
    ASSERT_TRUE(UserDefaults::standard().synchronize());

    UserDefaults fresh(UserDefaults::standardFilePath());
    for (const auto& [key, value] : *sample.dictionary())
        EXPECT_EQ(fresh.objectForKey(key), value) << key;
    EXPECT_EQ(fresh.stringForKey("string"), "Grüße <&> \"quoted\"");
    EXPECT_EQ(fresh.stringForKey("integer"), "42");
    EXPECT_TRUE(fresh.boolForKey("yes"));
    EXPECT_FALSE(fresh.boolForKey("no"));
    EXPECT_EQ(fresh.integerForKey("negative"), -7);
    EXPECT_EQ(fresh.doubleForKey("real"), 3.25);

    // Removal reaches the disk as well.
    fresh.removeObjectForKey("integer");
    ASSERT_TRUE(fresh.synchronize());
    EXPECT_TRUE(UserDefaults(fresh.filePath()).objectForKey("integer").isNone());
}

TEST(UserDefaultsTest, RegisteredDefaultsAnswerOnlyWhereTheUserIsSilentAndStayInMemory) {
    TempHome home;
    UserDefaults& defaults = UserDefaults::standard();
    defaults.registerDefaults({{"prefDaysToSaveLogs", 14}, {"prefEnableDeleteOldSourceImages", true}});
    defaults.setInteger("prefDaysToSaveLogs", 2);

    EXPECT_EQ(defaults.integerForKey("prefDaysToSaveLogs"), 2);
    EXPECT_TRUE(defaults.boolForKey("prefEnableDeleteOldSourceImages"));
    EXPECT_TRUE(defaults.userObjectForKey("prefEnableDeleteOldSourceImages").isNone());
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(onDisk(defaults.filePath()), Value(Value::Dictionary{{"prefDaysToSaveLogs", 2}}));

    // Removing the user's value uncovers the registered one, still only in memory.
    defaults.removeObjectForKey("prefDaysToSaveLogs");
    EXPECT_EQ(defaults.integerForKey("prefDaysToSaveLogs"), 14);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(onDisk(defaults.filePath()), Value(Value::Dictionary{}));

    // A later registration replaces single keys and keeps the others.
    defaults.registerDefaults({{"prefDaysToSaveLogs", 30}});
    EXPECT_EQ(defaults.integerForKey("prefDaysToSaveLogs"), 30);
    EXPECT_TRUE(defaults.boolForKey("prefEnableDeleteOldSourceImages"));
    UserDefaults::resetStandard();
    EXPECT_TRUE(UserDefaults::standard().objectForKey("prefEnableDeleteOldSourceImages").isNone());
}

TEST(UserDefaultsTest, ObserversFollowTheEffectiveValueAndMayReadTheStore) {
    TempHome home;
    UserDefaults defaults(home.path() / "observed.plist");
    std::vector<Value> seen;
    std::vector<Value> readInside;
    std::vector<std::thread::id> threads;
    auto id = defaults.addObserver("prefKey", [&](const std::string& key, const Value& value) {
        EXPECT_EQ(key, "prefKey");
        seen.push_back(value);
        readInside.push_back(defaults.objectForKey("prefKey"));
        threads.push_back(std::this_thread::get_id());
    });
    defaults.setObject("otherKey", 1);
    defaults.registerDefaults({{"prefKey", "registered"}});
    defaults.setObject("prefKey", "mine");
    defaults.setObject("prefKey", "mine"); // no change, no call
    defaults.registerDefaults({{"prefKey", "hidden"}}); // under the user's value, no call
    std::thread([&] { defaults.removeObjectForKey("prefKey"); }).join();

    const std::vector<Value> expected = {Value("registered"), Value("mine"), Value("hidden")};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(readInside, expected);
    ASSERT_EQ(threads.size(), 3u);
    EXPECT_EQ(threads[0], std::this_thread::get_id());
    EXPECT_NE(threads[2], std::this_thread::get_id());

    defaults.removeObserver(id);
    defaults.setObject("prefKey", "after");
    EXPECT_EQ(seen.size(), 3u);
}

TEST(UserDefaultsTest, EightThreadsLoseNoWriteAndEveryReadSeesTheLatest) {
    TempHome home;
    const fs::path file = home.path() / "threads.plist";
    constexpr int Threads = 8;
    constexpr int KeysPerThread = 16;
    std::atomic<bool> stop {false};
    std::atomic<int> staleReads {0};
    std::vector<std::int64_t> lastWritten(Threads * KeysPerThread, -1);
    std::vector<std::int64_t> sharedWrites(Threads, 0);
    {
        UserDefaults defaults(file);
        std::vector<std::thread> workers;
        for (int t = 0; t < Threads; ++t) {
            workers.emplace_back([&, t] {
                for (std::int64_t round = 0; !stop; ++round) {
                    const int slot = t * KeysPerThread + static_cast<int>(round % KeysPerThread);
                    const std::string key = "thread" + std::to_string(t) + ".key" + std::to_string(slot);
                    defaults.setInteger(key, round);
                    lastWritten[slot] = round;
                    if (defaults.integerForKey(key) != round) ++staleReads;
                    defaults.setObject("shared", Value::Array{t, round});
                    ++sharedWrites[t];
                    const Value shared = defaults.objectForKey("shared");
                    if (!shared.isArray() || shared.array()->size() != 2) ++staleReads;
                    if (round % 64 == 0) defaults.synchronize();
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        stop = true;
        for (auto& w : workers) w.join();

        EXPECT_EQ(staleReads, 0);
        for (int slot = 0; slot < Threads * KeysPerThread; ++slot) {
            const std::string key = "thread" + std::to_string(slot / KeysPerThread) + ".key" + std::to_string(slot);
            EXPECT_EQ(defaults.integerForKey(key), lastWritten[slot]) << key;
        }
        std::int64_t rounds = 0;
        for (int t = 0; t < Threads; ++t) {
            EXPECT_GT(sharedWrites[t], 0) << t;
            rounds += sharedWrites[t];
        }
        RecordProperty("rounds", static_cast<int>(rounds));
    } // the destructor writes what is pending

    UserDefaults fresh(file);
    for (int slot = 0; slot < Threads * KeysPerThread; ++slot) {
        const std::string key = "thread" + std::to_string(slot / KeysPerThread) + ".key" + std::to_string(slot);
        EXPECT_EQ(fresh.objectForKey(key), lastWritten[slot] < 0 ? Value() : Value(lastWritten[slot])) << key;
    }
    EXPECT_TRUE(fresh.objectForKey("shared").isArray());
}

TEST(UserDefaultsTest, ChangesReachTheDiskWithoutSynchronize) {
    TempHome home;
    UserDefaults::standard().setBool("prefWatcherObject01InProgress", true);
    const fs::path file = UserDefaults::standardFilePath();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitUntil([&] { return onDisk(file)["prefWatcherObject01InProgress"] == Value(true); }));
    RecordProperty("flushMilliseconds", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count()));

    // Destroying a store writes what has not been written yet.
    const fs::path other = home.path() / "other.plist";
    {
        UserDefaults defaults(other);
        defaults.setObject("prefLastSavedLaunchAgentContent", Value::Dictionary{{"Label", "x"}});
    }
    EXPECT_EQ(onDisk(other)["prefLastSavedLaunchAgentContent"], Value(Value::Dictionary{{"Label", "x"}}));
}

TEST(UserDefaultsTest, PendingChangesAreWrittenWhenTheProcessExits) {
    TempHome home;
    const std::string command = testing_support::testProgram("prefs_at_exit").string() + " prefDoSaveLogs YES";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(onDisk(UserDefaults::standardFilePath())["prefDoSaveLogs"], Value("YES"));
}

TEST(UserDefaultsTest, FailedSynchronizeLeavesThePreviousFileIntact) {
    TempHome home;
    const fs::path folder = home.makeFolder("config");
    const fs::path file = folder / "prefs.plist";
    UserDefaults defaults(file);
    defaults.setObject("prefCameraFolderPathFormat1", "/photos/before");
    ASSERT_TRUE(defaults.synchronize());
    const std::string before = readFile(file);
    {
        LockedFolder lock(folder);
        if (!lock.locked()) GTEST_SKIP() << "cannot make a folder unwritable here (no immutable flag as root)";
        CapturedLog log(home.path() / "log.txt");
        defaults.setObject("prefCameraFolderPathFormat1", "/photos/after");
        EXPECT_FALSE(defaults.synchronize());
        const std::string text = log.text();
        EXPECT_NE(text.find("Could not save preferences to " + file.string()), std::string::npos) << text;
        EXPECT_EQ(readFile(file), before);
        EXPECT_EQ(defaults.stringForKey("prefCameraFolderPathFormat1"), "/photos/after");
    }
    // Once the folder can be written again the change goes out.
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(onDisk(file)["prefCameraFolderPathFormat1"], Value("/photos/after"));

    // A folder that cannot exist at all: its parent is a regular file.
    CapturedLog log(home.path() / "log2.txt");
    {
        UserDefaults impossible(file / "prefs.plist");
        impossible.setBool("prefDidSetSchedule", true);
        EXPECT_FALSE(impossible.synchronize());
    }
    EXPECT_NE(log.text().find("Not a directory"), std::string::npos);
    EXPECT_EQ(onDisk(file)["prefCameraFolderPathFormat1"], Value("/photos/after"));
}

TEST(UserDefaultsTest, DamagedFileIsMovedAsideLoggedAndTheStoreStartsEmpty) {
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"garbage", "this is not a property list\n"},
        {"empty", ""},
        {"truncated", plist_samples::xml().substr(0, 300)},
        {"array root", Value(Value::Array{1, 2}).toXmlPlist()},
        {"binary cut short", plist_samples::binary().substr(0, 200)},
    };
    for (const auto& [name, contents] : damaged) {
        TempHome home;
        const fs::path file = UserDefaults::standardFilePath();
        home.writeFile(fs::relative(file, home.path()).string(), contents);
        CapturedLog log(home.path() / "log.txt");
        UserDefaults& defaults = UserDefaults::standard();
        EXPECT_TRUE(defaults.objectForKey("string").isNone()) << name;

        const std::string text = log.text();
        EXPECT_NE(text.find("Preferences file " + file.string() + " is damaged"), std::string::npos) << name << text;
        const auto copies = damagedCopies(file);
        ASSERT_EQ(copies.size(), 1u) << name;
        EXPECT_EQ(readFile(copies[0]), contents) << name;
        EXPECT_FALSE(fs::exists(file)) << name;

        // New settings are saved beside the damaged copy, which stays as it was.
        defaults.setInteger("prefDaysToSaveLogs", 5);
        ASSERT_TRUE(defaults.synchronize()) << name;
        EXPECT_EQ(onDisk(file), Value(Value::Dictionary{{"prefDaysToSaveLogs", 5}})) << name;
        EXPECT_EQ(readFile(copies[0]), contents) << name;
    }
}

TEST(UserDefaultsTest, SecondDamageInTheSameSecondGetsItsOwnName) {
    TempHome home;
    const fs::path file = home.path() / "prefs.plist";
    CapturedLog log(home.path() / "log.txt");
    for (int i = 0; i < 3; ++i) {
        home.writeFile("prefs.plist", "damage " + std::to_string(i));
        UserDefaults defaults(file);
    }
    auto copies = damagedCopies(file);
    ASSERT_EQ(copies.size(), 3u);
    std::vector<std::string> contents;
    for (const auto& copy : copies) contents.push_back(readFile(copy));
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"damage 0", "damage 1", "damage 2"}));
}

TEST(UserDefaultsTest, ResetStandardSavesAndReadsTheNewHome) {
    TempHome first;
    UserDefaults& old = UserDefaults::standard();
    old.setObject("prefTempTime", Value(plist_samples::utc(2024, 5, 6, 7, 8, 0)));
    const fs::path firstFile = UserDefaults::standardFilePath();
    {
        TempHome second; // moves HOME and resets the standard store
        EXPECT_EQ(onDisk(firstFile)["prefTempTime"], Value(plist_samples::utc(2024, 5, 6, 7, 8, 0)));
        EXPECT_NE(&UserDefaults::standard(), &old);
        EXPECT_TRUE(UserDefaults::standard().objectForKey("prefTempTime").isNone());

        // A reference kept from before still works, but writes nowhere.
        old.setInteger("prefLate", 1);
        EXPECT_EQ(old.integerForKey("prefLate"), 1);
        EXPECT_FALSE(old.synchronize());
        EXPECT_TRUE(UserDefaults::standard().objectForKey("prefLate").isNone());
        EXPECT_TRUE(onDisk(firstFile)["prefLate"].isNone());
    }
}
