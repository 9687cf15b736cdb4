#include "support/SshServer.h"

#include "platform/runtime/SearchPath.h"

#include "support/ChildProcesses.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <pwd.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace testing_support {
namespace {

// sshd re-executes itself and so must be started by its absolute path, which
// a user's PATH often lacks.
std::optional<std::string> sshdProgram() {
    if (auto found = platform::SearchPath::find("sshd")) return found;
    for (const char* candidate : {"/usr/sbin/sshd", "/usr/local/sbin/sshd"})
        if (auto found = platform::SearchPath::find(candidate)) return found;
    return std::nullopt;
}

std::string required(const std::optional<std::string>& program, const char* name) {
    if (!program) throw std::runtime_error(std::string(name) + " is not installed");
    return *program;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> out;
    for (auto& word : words) out.push_back(word.data());
    out.push_back(nullptr);
    return out;
}

// Waited for at once, as the other harnesses start their children: with posix_spawn, reaped by pid.
pid_t spawn(std::vector<std::string> argv) {
    std::vector<char*> argvPointers = pointers(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argvPointers[0], &actions, nullptr, argvPointers.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Forked by hand rather than with posix_spawn only for PR_SET_PDEATHSIG: a test program that dies
// without running its destructors must not leave a server listening. In a group of its own, apart
// from the test's, with no signal blocked and its output in `log`. Between fork and exec, only
// async-signal-safe calls.
pid_t spawnServer(std::vector<std::string> argv, const fs::path& log) {
    std::vector<char*> argvPointers = pointers(argv);
    const std::string logText = log.string();
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    // SIGKILL, which also reaches a paused server.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    const int input = open("/dev/null", O_RDONLY), output = open(logText.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (input < 0 || output < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 ||
        dup2(output, STDERR_FILENO) < 0)
        _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argvPointers[0], argvPointers.data(), environ);
    _exit(127);
}

void runToEnd(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("could not run " + argv[0]);
}

void makeKey(const fs::path& file) {
    runToEnd({required(platform::SearchPath::find("ssh-keygen"), "ssh-keygen"), "-q", "-N", "", "-t", "ed25519", "-f",
              file.string()});
}

// A port nothing listens on now; sshd binds it with SO_REUSEADDR, so it can
// take it again after a stop.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!bound) throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Ended, or ended and waiting for a parent that will not reap it.
bool gone(pid_t pid) {
    const auto stat = procStat(pid);
    return !stat || stat->state == 'Z' || stat->state == 'X';
}

} // namespace

std::string SshServer::unavailable() {
    if (!sshdProgram()) return "sshd is not installed (openssh-server)";
    for (const char* program : {"ssh", "ssh-keygen"})
        if (!platform::SearchPath::find(program)) return std::string(program) + " is not installed (openssh-client)";
    return "";
}

SshServer::SshServer() {
    std::string pattern = (fs::temp_directory_path() / "tolv-sshd-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    try {
        makeKey(folder_ / "host_key");
        makeKey(userKey());
        makeKey(strangerKey());
        fs::copy_file(fs::path(userKey()) += ".pub", folder_ / "authorized_keys");
        port_ = freePort();
        writeServerConfig();
        start();
    } catch (...) {
        std::error_code ec;
        fs::remove_all(folder_, ec); // no destructor runs for an object that was never made
        throw;
    }
}

SshServer::~SshServer() {
    try {
        if (pid_ > 0) stop();
    } catch (...) {
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void SshServer::writeServerConfig() const {
    std::ofstream(folder_ / "sshd_config") << "ListenAddress 127.0.0.1\n"
                                           << "Port " << port_ << "\n"
                                           << "HostKey " << (folder_ / "host_key").string() << "\n"
                                           << "AuthorizedKeysFile " << (folder_ / "authorized_keys").string() << "\n"
                                           << "StrictModes no\n"
                                           << "UsePAM no\n"
                                           << "PasswordAuthentication no\n"
                                           << "KbdInteractiveAuthentication no\n"
                                           << "PermitRootLogin prohibit-password\n"
                                           << "PidFile " << (folder_ / "sshd.pid").string() << "\n"
                                           // INFO: each accepted login is a line (acceptedLogins).
                                           << "LogLevel INFO\n";
}

int SshServer::acceptedLogins() const {
    std::ifstream log(folder_ / "sshd.log");
    int logins = 0;
    for (std::string line; std::getline(log, line);)
        if (line.find("Accepted publickey") != std::string::npos) ++logins;
    return logins;
}

void SshServer::start() {
    if (pid_ > 0) return;
    // Where sshd, as root, locks away its unprivileged half.
    if (geteuid() == 0) fs::create_directories("/run/sshd");
    const std::string sshd = required(sshdProgram(), "sshd");
    pid_ = spawnServer({sshd, "-D", "-e", "-f", (folder_ / "sshd_config").string()}, folder_ / "sshd.log");
    if (pid_ < 0) throw std::runtime_error("could not start " + sshd);
    waitUntilAccepting();
}

void SshServer::waitUntilAccepting() {
    bool ended = false;
    const bool accepting = waitUntil(
        [&] {
            ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
            return ended || accepts(port_);
        },
        10s, 20ms);
    if (accepting && !ended) return;
    if (!ended) stop();
    pid_ = -1;
    throw std::runtime_error("sshd did not accept connections on port " + std::to_string(port_) + ": " +
                             readFile(folder_ / "sshd.log"));
}

std::vector<pid_t> SshServer::processes() const {
    std::multimap<pid_t, pid_t> children;
    for (pid_t pid : allProcesses())
        if (const auto stat = procStat(pid)) children.emplace(stat->parent, pid);
    std::vector<pid_t> found{pid_};
    for (size_t i = 0; i < found.size(); ++i) {
        const auto [first, last] = children.equal_range(found[i]);
        for (auto child = first; child != last; ++child) found.push_back(child->second);
    }
    return found;
}

// Looks again after signalling: a connection may have forked meanwhile.
void SshServer::signalAll(int signalNumber) const {
    std::set<pid_t> signalled;
    for (bool more = true; more;) {
        more = false;
        for (pid_t pid : processes())
            if (signalled.insert(pid).second) {
                ::kill(pid, signalNumber);
                more = true;
            }
    }
}

void SshServer::stop() {
    if (pid_ <= 0) return;
    resume();
    const std::vector<pid_t> all = processes();
    signalAll(SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    // A remote command may shrug SIGTERM off; the server must be gone all the same.
    if (!waitUntil([&] { return std::all_of(all.begin(), all.end(), gone); }, 5s))
        for (pid_t pid : all)
            if (!gone(pid)) ::kill(pid, SIGKILL);
}

void SshServer::pause() {
    if (pid_ <= 0 || paused_) return;
    signalAll(SIGSTOP);
    paused_ = true;
    waitUntil(
        [&] {
            const std::vector<pid_t> all = processes();
            return std::all_of(all.begin(), all.end(), [](pid_t pid) {
                const auto stat = procStat(pid);
                return !stat || stat->state == 'T' || stat->state == 'Z';
            });
        },
        5s);
}

void SshServer::resume() {
    if (pid_ <= 0 || !paused_) return;
    signalAll(SIGCONT);
    paused_ = false;
}

std::string SshServer::user() {
    const passwd* entry = getpwuid(geteuid());
    return entry ? entry->pw_name : std::to_string(geteuid());
}

std::string SshServer::login() const { return user() + "@localhost"; }

std::string SshServer::destination(const fs::path& remoteFolder) const {
    return login() + ":" + fs::absolute(remoteFolder).string();
}

std::string SshServer::clientConfig() const {
    return "Host localhost 127.0.0.1\n"
           "  HostName 127.0.0.1\n"
           "  Port " +
           std::to_string(port_) + "\n  User " + user() + "\n  IdentityFile " + userKey().string() +
           "\n"
           "  IdentitiesOnly yes\n"
           "  StrictHostKeyChecking no\n"
           "  UserKnownHostsFile /dev/null\n"
           "  LogLevel ERROR\n";
}

void SshServer::installClientConfig(const fs::path& file) const {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << clientConfig();
}

} // namespace testing_support
