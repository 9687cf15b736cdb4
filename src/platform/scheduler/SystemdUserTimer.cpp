#include "platform/scheduler/SystemdUserTimer.h"

#include "platform/runtime/UserFolders.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/runtime/Log.h"
#include "platform/scheduler/ToolRun.h"
#include "platform/scheduler/StepFailure.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr const char* kHeader = "# Made by launchagent from a launchd job description: unload the job to remove it.\n";

std::string unitText(std::initializer_list<std::string> lines) {
    std::string text = kHeader;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// One character inside an ExecStart word in double quotes. % and $ are
// doubled so that no %-sequence or variable is expanded.
std::string escaped(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') return std::string("\\") + c;
    if (c == '\n') return "\\n";
    if (c == '%' || c == '$') return std::string(2, c);
    if (u >= 0x20 && u != 0x7f) return std::string(1, c);
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", u);
    return hex;
}

bool unitNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
           c == '.' || c == '-';
}

bool systemctl(const std::vector<std::string>& arguments, std::string* error) {
    std::vector<std::string> all{"--user"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ToolRun run = ToolRun::run("systemctl", all);
    return run.succeeded() || fail(error, run.failure());
}

bool removeFile(const fs::path& file, std::string* error) {
    std::error_code ec;
    fs::remove(file, ec);
    return !ec || fail(error, "cannot remove " + file.string() + ": " + ec.message());
}

} // namespace

SystemdUserTimer::SystemdUserTimer(std::string label) : label_(std::move(label)) {}

fs::path SystemdUserTimer::unitFolder() {
    return UserFolders::config() / "systemd" / "user";
}

std::string SystemdUserTimer::whyNotAUnitName(const std::string& label) {
    for (char c : label)
        if (!unitNameCharacter(c))
            return "Label \"" + label +
                   "\" cannot name a systemd unit: only letters, digits, \":\", \"_\", \".\" and \"-\"";
    if (label.empty() || label.front() == '-') return "Label \"" + label + "\" cannot name a systemd unit";
    return {};
}

std::string SystemdUserTimer::quoted(const std::string& argument) {
    std::string out = "\"";
    for (char c : argument) out += escaped(c);
    return out + "\"";
}

std::string SystemdUserTimer::serviceUnit(const LaunchdJob& job, const JobCommand& command) {
    std::string execStart;
    for (const auto& word : command.argv())
        execStart += (execStart.empty() ? "" : " ") + quoted(word);
    return unitText({"[Unit]", "Description=" + job.label, "", "[Service]", "Type=oneshot", "ExecStart=" + execStart,
                     // What the program starts (a relaunch, say) outlives the run, as after launchd's open.
                     "KillMode=process"});
}

std::string SystemdUserTimer::timerUnit(const LaunchdJob& job) {
    return unitText({"[Unit]", "Description=Daily run of " + job.label + " at " + job.timeOfDay(), "", "[Timer]",
                     "OnCalendar=*-*-* " + job.timeOfDay() + ":00",
                     // A run missed while the machine was off or asleep happens at the next start.
                     "Persistent=true", "", "[Install]", "WantedBy=timers.target"});
}

fs::path SystemdUserTimer::servicePath() const {
    return unitFolder() / (label_ + ".service");
}
fs::path SystemdUserTimer::timerPath() const {
    return unitFolder() / (label_ + ".timer");
}

bool SystemdUserTimer::hasUnitFiles() const {
    std::error_code ec;
    return fs::exists(servicePath(), ec) || fs::exists(timerPath(), ec);
}

bool SystemdUserTimer::load(const LaunchdJob& job, const JobCommand& command, std::string* error) const {
    if (std::string why = whyNotAUnitName(label_); !why.empty()) return fail(error, why);
    std::error_code ec;
    const bool replacing = fs::exists(timerPath(), ec);
    fs::create_directories(unitFolder(), ec);
    if (ec) return fail(error, "cannot make " + unitFolder().string() + ": " + ec.message());
    if (!writeFileAtomically(servicePath(), serviceUnit(job, command), error)) return false;
    if (!writeFileAtomically(timerPath(), timerUnit(job), error)) return false;
    const std::string timer = label_ + ".timer";
    if (!systemctl({"daemon-reload"}, error) || !systemctl({"enable", "--now", timer}, error)) return false;
    return !replacing || systemctl({"restart", timer}, error);
}

bool SystemdUserTimer::unload(std::string* error) const {
    std::error_code ec;
    if (fs::exists(timerPath(), ec) && !systemctl({"disable", "--now", label_ + ".timer"}, error)) return false;
    if (!removeFile(timerPath(), error) || !removeFile(servicePath(), error)) return false;
    return systemctl({"daemon-reload"}, error);
}

bool SystemdUserTimer::removeUnitFiles(std::string* error) const {
    const fs::path wants = unitFolder() / "timers.target.wants" / (label_ + ".timer");
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(wants, ec)) && !removeFile(wants, error)) return false;
    return removeFile(timerPath(), error) && removeFile(servicePath(), error);
}

} // namespace platform
