#include "platform/remote/SecureShell.h"

#include "platform/runtime/FileDescriptor.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/MemoryFile.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/UserFolders.h"
#include "platform/runtime/Task.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace platform {
namespace {

constexpr int kSshFailed = 255;

// A killed ssh ends at once; only a process stuck in the kernel takes longer, and run() must not
// hang on one.
constexpr milliseconds kReapAfterKill{5000};

// ssh makes its socket as "<ControlPath>.<16 random characters>" before renaming it, %C is 40 hex
// digits, and sun_path holds the whole name and its NUL.
constexpr std::size_t kLongestSocketFolder = sizeof(sockaddr_un::sun_path) - 1 - (1 + 40) - (1 + 16);

constexpr const char* kEveryConnection[] = {"BatchMode=yes", "ConnectTimeout=10", "ServerAliveInterval=5",
                                            "ServerAliveCountMax=3"};

// ssh's last words when the server would not let us in, rather than could not be reached.
constexpr const char* kLoginRefusals[] = {"Permission denied", "Host key verification failed",
                                          "Too many authentication failures"};
// ssh giving up on a server that took the connection but then said nothing: ConnectTimeout on a
// new connection; its keep-alive ("Timeout, server <host> not responding.") on an established one.
constexpr const char* kBannerTimeout = "timed out during banner exchange";
constexpr const char* kKeepAliveStart = "Timeout, server ";
constexpr const char* kKeepAliveEnd = " not responding";

std::atomic<bool> refusalLogged{false};

// ssh finds ~ through the passwd database, not $HOME, and so must we to see what it sees.
struct Account {
    std::string name;
    std::string home;
};

std::optional<Account> accountOf(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
    return Account{found->pw_name, found->pw_dir};
}

std::optional<Account> accountNamed(const std::string& name) {
    std::vector<char> buffer(16384);
    passwd entry{}, *found = nullptr;
    if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
    return Account{found->pw_name, found->pw_dir};
}


std::optional<std::string> sshProgram() { return SearchPath::find("ssh"); }

fs::path socketFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        fs::path folder = fs::path(runtime) / "tolv-archiver-ssh";
        if (folder.native().size() <= kLongestSocketFolder) return folder;
    }
    return "/tmp/tolv-archiver-ssh-" + std::to_string(::getuid());
}

bool isPrivateFolder(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 07777) == 0700;
}

// Only a folder no one else can write to may hold the sockets: a stranger's socket there would
// carry our commands over a connection of theirs.
std::optional<fs::path> privateSocketFolder() {
    const fs::path folder = socketFolder();
    if (::mkdir(folder.c_str(), 0700) == 0) ::chmod(folder.c_str(), 0700); // the umask may have narrowed it
    if (isPrivateFolder(folder)) return folder;
    if (!refusalLogged.exchange(true))
        logf("ssh connections are not shared: %s is not a private folder of this user", folder.c_str());
    return std::nullopt;
}

// ssh expands % tokens in ControlPath; the folder's own % must stay one.
std::string withoutTokens(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

// An -o value, which ssh splits like a line of its configuration file.
std::string configValue(const std::string& value) {
    if (value.find_first_of(" \t\"'\\") == std::string::npos) return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::vector<std::string> sharingSettings() {
    const std::optional<fs::path> folder = privateSocketFolder();
    if (!folder) return {"ControlMaster=no", "ControlPath=none"};
    return {"ControlMaster=auto", "ControlPath=" + configValue(withoutTokens(folder->string()) + "/%C"),
            "ControlPersist=60"};
}

// rsync splits its -e command at spaces only, and takes a quote character doubled inside quotes
// as itself; there are no backslash escapes.
std::string rsyncWord(const std::string& word) {
    if (!word.empty() && word.find_first_of(" '\"") == std::string::npos) return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// ssh's standard streams live in memory: its input written whole beforehand, its output and errors
// gathered there. Nothing then waits on a pipe, neither ssh nor run(), which a connection master
// left running in the background could otherwise hold open.
struct Streams {
    std::optional<MemoryFile> input, output, errors;
    FileDescriptor nothing; // /dev/null, for no input
};

Streams streamsFor(const std::string& input) {
    if (input.empty())
        return {std::nullopt, MemoryFile::withContents(""), MemoryFile::withContents(""),
                FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC))};
    return {MemoryFile::withContents(input), MemoryFile::withContents(""), MemoryFile::withContents(""),
            FileDescriptor(-1)};
}

int inputOf(const Streams& streams) { return streams.input ? streams.input->fd() : streams.nothing.get(); }

bool ready(const Streams& streams) { return inputOf(streams) >= 0 && streams.output && streams.errors; }

// ssh's end, handed from the reaper thread to run().
struct Ending {
    std::mutex mutex;
    std::condition_variable came;
    std::optional<Task::Termination> termination;
};

void report(Ending& ending, const Task::Termination& t) {
    std::lock_guard lock(ending.mutex);
    ending.termination = t;
    ending.came.notify_all();
}

bool waitUntil(Ending& ending, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(ending.mutex);
    return ending.came.wait_until(lock, deadline, [&] { return ending.termination.has_value(); });
}

// A pidfd names this very process even after its number has been freed and used again. Without
// one (an old kernel), the number is signalled only while the reaper has not reported the end.
void killChild(Ending& ending, pid_t pid, const FileDescriptor& pidFd) {
    if (pidFd.valid()) {
        ::syscall(SYS_pidfd_send_signal, pidFd.get(), SIGKILL, nullptr, 0);
        return;
    }
    std::lock_guard lock(ending.mutex);
    if (!ending.termination) ::kill(pid, SIGKILL);
}

// Waits for the end until the bound, kills ssh then, and waits a little more for the kill to land.
std::optional<Task::Termination> awaitEnd(Ending& ending, pid_t pid, milliseconds bound, bool* timedOut) {
    const FileDescriptor pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    *timedOut = !waitUntil(ending, std::chrono::steady_clock::now() + bound);
    if (*timedOut) {
        killChild(ending, pid, pidFd);
        if (!waitUntil(ending, std::chrono::steady_clock::now() + kReapAfterKill)) return std::nullopt;
    }
    std::lock_guard lock(ending.mutex);
    return ending.termination;
}

std::vector<std::string> runArguments(const std::string& login, const std::string& remoteCommand) {
    std::vector<std::string> arguments = SecureShell::options();
    arguments.insert(arguments.end(), {"--", login, remoteCommand});
    return arguments;
}

std::string lastLine(const std::string& text) {
    std::istringstream lines(text);
    std::string line, last;
    while (std::getline(lines, line)) {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty()) last = line;
    }
    return last;
}

bool saysServerIsSilent(const std::string& line) {
    return line.find(kBannerTimeout) != std::string::npos ||
           (line.rfind(kKeepAliveStart, 0) == 0 && line.find(kKeepAliveEnd) != std::string::npos);
}

template <size_t N>
bool mentionsAny(const std::string& line, const char* const (&phrases)[N]) {
    for (const char* phrase : phrases)
        if (line.find(phrase) != std::string::npos) return true;
    return false;
}

// What `ssh -G` settles on, as far as the identity files need it.
struct ResolvedSettings {
    std::vector<std::string> identityFiles;
    std::map<char, std::string> tokens;
};

ResolvedSettings resolvedSettings(const std::string& dump) {
    const std::optional<Account> self = accountOf(::getuid());
    ResolvedSettings settings;
    settings.tokens = {
        {'%', "%"}, {'d', self ? self->home : ""}, {'u', self ? self->name : ""}, {'i', std::to_string(::getuid())}};
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string keyword = line.substr(0, space), value = line.substr(space + 1);
        if (keyword == "identityfile")
            settings.identityFiles.push_back(value);
        else if (keyword == "hostname")
            settings.tokens['h'] = value;
        else if (keyword == "user")
            settings.tokens['r'] = value;
        else if (keyword == "port")
            settings.tokens['p'] = value;
    }
    return settings;
}

// ~ and ~user at the start, as ssh expands them before the % tokens.
std::string withHome(const std::string& path) {
    if (path.empty() || path[0] != '~') return path;
    const size_t slash = path.find('/');
    const std::string name = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::optional<Account> account = name.empty() ? accountOf(::getuid()) : accountNamed(name);
    if (!account) return path;
    return account->home + (slash == std::string::npos ? "" : path.substr(slash));
}

// Tokens ssh knows but we do not are left standing: such a file will not be found.
std::string withTokens(const std::string& text, const std::map<char, std::string>& tokens) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto token = text[i] == '%' && i + 1 < text.size() ? tokens.find(text[i + 1]) : tokens.end();
        if (token == tokens.end()) {
            out += text[i];
            continue;
        }
        out += token->second;
        ++i;
    }
    return out;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

fs::path SecureShell::configFile() { return UserFolders::config() / "tolv-archiver" / "ssh_config"; }

std::vector<std::string> SecureShell::options() {
    std::vector<std::string> options;
    std::error_code ec;
    if (const fs::path config = configFile(); fs::exists(config, ec)) options.insert(options.end(), {"-F", config});
    for (const char* setting : kEveryConnection) options.insert(options.end(), {"-o", setting});
    for (const std::string& setting : sharingSettings()) options.insert(options.end(), {"-o", setting});
    return options;
}

std::string SecureShell::rsyncShellCommand() {
    std::string command = rsyncWord(sshProgram().value_or("ssh"));
    for (const std::string& option : options()) command += " " + rsyncWord(option);
    return command;
}

SecureShell::Result SecureShell::run(const std::string& login, const std::string& remoteCommand,
                                     const std::string& input, milliseconds bound) {
    Result result;
    const std::optional<std::string> ssh = sshProgram();
    const Streams streams = streamsFor(input);
    result.errors = ssh ? "ssh could not be started" : "ssh is not installed";
    if (!ssh || !ready(streams)) return result;
    const Task::Options options{*ssh,
                                runArguments(login, remoteCommand),
                                std::nullopt,
                                inputOf(streams),
                                streams.output->fd(),
                                streams.errors->fd()};
    const auto ending = std::make_shared<Ending>();
    const pid_t pid = Task::launch(options, [ending](const Task::Termination& t) { report(*ending, t); });
    if (pid < 0) return result;
    const std::optional<Task::Termination> end = awaitEnd(*ending, pid, bound, &result.timedOut);
    result.started = !end || end->started;
    if (!result.started) return result;
    if (end && !end->signaled) result.status = end->status;
    result.output = streams.output->contents();
    result.errors = streams.errors->contents();
    return result;
}

std::string SecureShell::quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string SecureShell::failureReason(const Result& result) {
    if (!result.started) return "server unreachable: " + result.errors;
    if (result.timedOut) return "server not responding";
    if (result.status != kSshFailed) return "";
    const std::string line = lastLine(result.errors);
    if (saysServerIsSilent(line)) return "server not responding";
    if (mentionsAny(line, kLoginRefusals)) return "login refused: " + line;
    return "server unreachable: " + (line.empty() ? std::string("ssh failed without saying why") : line);
}

std::optional<std::string> SecureShell::identityFor(const std::string& login) {
    const std::optional<std::string> ssh = sshProgram();
    if (!ssh) return std::nullopt;
    // -T: given no command, ssh would warn that it gets no terminal.
    Task::Options options{*ssh, {"-G", "-T"}, std::nullopt, -1, -1, -1};
    for (std::string& option : SecureShell::options()) options.arguments.push_back(std::move(option));
    options.arguments.insert(options.arguments.end(), {"--", login});
    const Task::Output dump = Task::runCapturingOutput(options);
    const Task::Termination& end = dump.termination;
    if (!end.started || end.signaled || end.status != 0) return std::nullopt;
    const ResolvedSettings settings = resolvedSettings(dump.standardOutput);
    for (const std::string& file : settings.identityFiles)
        if (std::string path = withTokens(withHome(file), settings.tokens); isRegularFile(path)) return path;
    return std::nullopt;
}

} // namespace platform
