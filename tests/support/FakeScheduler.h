#pragma once
// Stand-ins for the user's scheduler commands, first on PATH for the life of
// the object: `systemctl` records each call and answers `--user
// show-environment` as told (a user manager present or not); `crontab`
// keeps its table in a file (`-l`, `crontab FILE`, `crontab -`) and records
// its calls too. Nothing reaches the machine's own timers or crontab.

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class FakeScheduler {
public:
    // folder: where the scripts, their call log and the table live. Without
    // crontab, none is put on PATH (as on a machine without cron).
    FakeScheduler(const std::filesystem::path& folder, bool userManager, bool crontab = true);
    ~FakeScheduler();
    FakeScheduler(const FakeScheduler&) = delete;
    FakeScheduler& operator=(const FakeScheduler&) = delete;

    // One line per call: the program's name and its arguments, blank-separated.
    std::vector<std::string> calls() const;
    // How many calls start with the words given ("systemctl --user enable").
    int count(const std::string& callPrefix) const;
    std::filesystem::path crontabFile() const { return folder_ / "crontab.table"; }
    std::string crontab() const;
    void setCrontab(const std::string& table) const;

private:
    std::filesystem::path folder_;
    std::string savedPath_;
};

} // namespace testing_support
