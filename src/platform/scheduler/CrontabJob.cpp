#include "platform/scheduler/CrontabJob.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/scheduler/ToolRun.h"
#include "platform/scheduler/StepFailure.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr const char* kTagMark = "# tolv-launch-agent ";

std::string singleQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Cron turns a bare % into a newline and "\%" into %.
std::string cronEscaped(std::string_view text) {
    std::string out;
    for (char c : text)
        out += c == '%' ? std::string("\\%") : std::string(1, c);
    return out;
}

// Each line with its newline, the last one possibly without.
std::vector<std::string_view> linesOf(std::string_view table) {
    std::vector<std::string_view> lines;
    while (!table.empty()) {
        const size_t end = std::min(table.find('\n'), table.size() - 1);
        lines.push_back(table.substr(0, end + 1));
        table.remove_prefix(end + 1);
    }
    return lines;
}

// "crontab -l" fails, with nothing on standard output, for a user who has
// no crontab yet: that is an empty table.
std::optional<std::string> readTable(std::string* error) {
    ToolRun run = ToolRun::run("crontab", {"-l"});
    if (run.succeeded() || (run.started && run.exited && run.output.empty())) return run.output;
    return refuse<std::string>(error, "cannot read the crontab: " + run.failure());
}

std::optional<fs::path> temporaryFile(std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::path(tmp && tmp[0] == '/' ? tmp : "/tmp") / "tolv-crontab-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        fail(error, "cannot make a temporary file for the crontab: " + std::string(std::strerror(errno)));
        return std::nullopt;
    }
    ::close(fd);
    return fs::path(pattern);
}

bool installTable(const std::string& table, std::string* error) {
    auto file = temporaryFile(error);
    if (!file) return false;
    bool installed = writeFileAtomically(*file, table, error);
    if (installed) {
        ToolRun run = ToolRun::run("crontab", {file->string()});
        installed = run.succeeded() || fail(error, "cannot install the crontab: " + run.failure());
    }
    std::error_code ec;
    fs::remove(*file, ec);
    return installed;
}

} // namespace

CrontabJob::CrontabJob(std::string label) : label_(std::move(label)) {}

bool CrontabJob::available() {
    return ToolRun::available("crontab");
}

bool CrontabJob::daemonRunning() {
    static const std::set<std::string> kDaemons{"cron", "crond", "cronie", "fcron", "dcron"};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (!std::getline(comm, name)) continue;
        if (kDaemons.count(name)) return true;
        if (name == "busybox") {
            std::ifstream cmdline(entry.path() / "cmdline");
            std::string all((std::istreambuf_iterator<char>(cmdline)), {});
            if (all.find("crond") != std::string::npos) return true;
        }
    }
    return false;
}

std::string CrontabJob::whyNotATag(const std::string& label) {
    auto blankOrHash = [](char c) { return c == ' ' || c == '\t' || c == '#'; };
    if (label.empty() || std::any_of(label.begin(), label.end(), blankOrHash))
        return "Label \"" + label + "\" cannot tag a crontab line: it must not be empty or hold blanks or \"#\"";
    return {};
}

std::string CrontabJob::quoted(const std::string& argument) {
    if (argument.empty()) return "''";
    // A % stays outside the quotes: inside, "\%" after a backslash of the
    // argument would read as an escaped backslash followed by a bare %.
    std::string out;
    std::string_view rest = argument;
    for (size_t percent; (percent = rest.find('%')) != std::string_view::npos; rest.remove_prefix(percent + 1)) {
        if (percent > 0) out += singleQuoted(rest.substr(0, percent));
        out += "\\%";
    }
    if (!rest.empty()) out += singleQuoted(rest);
    return out;
}

std::optional<std::string> CrontabJob::line(const LaunchdJob& job, const JobCommand& command, std::string* error) {
    if (std::string why = whyNotATag(job.label); !why.empty()) return refuse<std::string>(error, why);
    std::string text = std::to_string(job.minute) + " " + std::to_string(job.hour) + " * * *";
    for (const auto& word : command.argv()) {
        if (word.find('\n') != std::string::npos)
            return refuse<std::string>(error,
                          "the command word \"" + word + "\" holds a newline, which a crontab line cannot carry");
        text += " " + quoted(word);
    }
    return text + " " + CrontabJob(job.label).tag();
}

std::string CrontabJob::tag() const {
    return kTagMark + cronEscaped(label_);
}

bool CrontabJob::isTagged(std::string_view line) const {
    if (line.ends_with('\n')) line.remove_suffix(1);
    return whyNotATag(label_).empty() && line.ends_with(" " + tag());
}

std::string CrontabJob::withoutJob(const std::string& table) const {
    std::string kept;
    for (std::string_view line : linesOf(table))
        if (!isTagged(line)) kept += line;
    return kept;
}

bool CrontabJob::isIn(const std::string& table) const {
    auto lines = linesOf(table);
    return std::any_of(lines.begin(), lines.end(), [this](std::string_view l) { return isTagged(l); });
}

bool CrontabJob::isLoaded(std::string* error) const {
    const auto table = readTable(error);
    return table && isIn(*table);
}

bool CrontabJob::load(const LaunchdJob& job, const JobCommand& command, std::string* error) const {
    auto newLine = line(job, command, error);
    if (!newLine) return false;
    auto table = readTable(error);
    if (!table) return false;
    std::string updated = withoutJob(*table);
    if (!updated.empty() && !updated.ends_with('\n')) updated += '\n';
    updated += *newLine + "\n";
    return updated == *table || installTable(updated, error);
}

bool CrontabJob::unload(bool* removed, std::string* error) const {
    *removed = false;
    auto table = readTable(error);
    if (!table) return false;
    if (!isIn(*table)) return true;
    *removed = true;
    const std::string rest = withoutJob(*table);
    if (rest.find_first_not_of(" \t\n") != std::string::npos) return installTable(rest, error);
    // Ours was its only line: the user had no crontab before it.
    ToolRun run = ToolRun::run("crontab", {"-r"});
    return run.succeeded() || fail(error, "cannot remove the crontab: " + run.failure());
}

} // namespace platform
