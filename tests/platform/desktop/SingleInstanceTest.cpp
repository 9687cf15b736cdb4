// One instance per user, with real sockets, processes and folders: what a
// later start hands over arrives intact, nothing planted or left behind
// stops a start, and no bad or slow peer holds up the others.
#include "platform/desktop/SingleInstance.h"

#include "platform/runtime/Task.h"
#include "support/RunWithin.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::SingleInstance;
using platform::Task;
using Reply = SingleInstance::Reply;
using testing_support::StderrCapture;
using testing_support::TempHome;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string app = "tolv-archiver-test";
const auto patience = SingleInstance::patience;

// The wire format as documented, written independently of the code under test.
std::string u32(std::uint32_t v) { return {char(v >> 24), char(v >> 16 & 255), char(v >> 8 & 255), char(v & 255)}; }
std::string request(const std::vector<std::string>& arguments) {
    std::string out = "TOLV1\n" + u32(static_cast<std::uint32_t>(arguments.size()));
    for (const auto& a : arguments) out += u32(static_cast<std::uint32_t>(a.size())) + a;
    return out;
}

struct Fd {
    int fd = -1;
    ~Fd() { if (fd >= 0) close(fd); }
};

sockaddr_un addressOf(const fs::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    return address;
}

// Async-signal-safe, for a forked child.
int connectRaw(const sockaddr_un& address) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    return -1;
}
int connectRaw(const fs::path& socket) { return connectRaw(addressOf(socket)); }

// All the peer sent before closing; nothing when it has not closed in time.
std::optional<std::string> untilClosed(int fd, std::chrono::milliseconds limit) {
    std::string got;
    for (auto end = Clock::now() + limit; Clock::now() < end;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return got;
        got.append(buffer, static_cast<size_t>(n));
    }
    return std::nullopt;
}

bool put(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

// The primary's handler: records each request and the thread it ran on;
// a request {"slow"} then waits for the gate.
class Calls {
public:
    SingleInstance::Handler handler(Reply reply = {0, "ok\n"}, std::shared_future<void> gate = {}) {
        return [this, reply, gate](const std::vector<std::string>& arguments) {
            {
                std::lock_guard lock(mutex_);
                calls_.push_back(arguments);
                threads_.insert(std::this_thread::get_id());
            }
            if (gate.valid() && arguments == std::vector<std::string>{"slow"}) gate.wait();
            return reply;
        };
    }
    std::vector<std::vector<std::string>> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::set<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::string>> calls_;
    std::set<std::thread::id> threads_;
};

using Arguments = std::vector<std::vector<std::string>>;

// Starts of the instanceclaimer program and how they ended.
class Claimers {
public:
    explicit Claimers(const TempHome& home) : record(home.path() / "record"), done(home.path() / "done") {}
    pid_t start(int stdinFd, int stdoutFd) {
        Task::Options o{testing_support::testProgram("instanceclaimer").string(),
                        {app, record.string(), done.string()}, std::nullopt, stdinFd, stdoutFd};
        return Task::launch(o, [this](const Task::Termination& t) {
            std::lock_guard lock(mutex_);
            ended_[t.pid] = t;
            changed_.notify_all();
        });
    }
    std::map<pid_t, Task::Termination> awaitEnded(size_t count, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return ended_.size() >= count; });
        return ended_;
    }
    const fs::path record, done;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<pid_t, Task::Termination> ended_;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    fs::path runtime() const { return home_.path() / "runtime"; }
    fs::path place() const { return runtime() / app; }
    std::unique_ptr<SingleInstance> primary(Reply reply = {0, "ok\n"}, std::shared_future<void> gate = {}) {
        auto claim = SingleInstance::claim(app, {"first"}, calls_.handler(reply, gate), 2s);
        EXPECT_TRUE(claim.primary && !claim.otherInstance);
        return std::move(claim.primary);
    }
    TempHome home_;
    Calls calls_;
};

} // namespace

TEST_F(SingleInstanceTest, ArgumentsAndRepliesCrossIntact) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        Reply reply;
        size_t expectedTextSize;
    };
    const std::string longest(SingleInstance::maxRequestBytes - 14, 'x'); // the whole request at the limit
    const std::string cutText(SingleInstance::maxReplyBytes + 10, 'c');
    const std::vector<Case> cases{
        {"no arguments", {}, {0, ""}, 0},
        {"awkward bytes", {"with space", "two\nlines", "", "Grüße ☃ 日本", std::string("nul\0in", 6), "\xff"}, {3, "a\nb\n"}, 4},
        {"negative status, text beyond a socket buffer", {"x"}, {-2, std::string(900000, 'r')}, 900000},
        {"as many arguments as allowed", std::vector<std::string>(SingleInstance::maxArguments, "a"), {255, "z"}, 1},
        {"a request of exactly the size limit", {longest}, {1, "big"}, 3},
        {"a text over the reply limit is cut", {"y"}, {4, cutText}, SingleInstance::maxReplyBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Calls calls;
        auto claim = SingleInstance::claim(app, {}, calls.handler(c.reply), 2s);
        ASSERT_TRUE(claim.primary);
        auto sent = SingleInstance::send(app, c.arguments, 5s);
        auto second = SingleInstance::claim(app, c.arguments, calls.handler(), 5s);
        EXPECT_FALSE(second.primary);
        EXPECT_TRUE(second.otherInstance);
        for (const auto& reply : {sent, second.reply}) {
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->status, c.reply.status);
            EXPECT_EQ(reply->text.size(), c.expectedTextSize);
            EXPECT_EQ(reply->text, c.reply.text.substr(0, c.expectedTextSize));
        }
        EXPECT_EQ(calls.calls(), Arguments({c.arguments, c.arguments}));
        ASSERT_EQ(calls.threads().size(), 1u); // the service's own thread
        EXPECT_NE(*calls.threads().begin(), std::this_thread::get_id());
    }
}

TEST_F(SingleInstanceTest, ArgumentsBeyondTheLimitsAreNeverSent) {
    StderrCapture err;
    auto instance = primary();
    for (const auto& arguments : {std::vector<std::string>(SingleInstance::maxArguments + 1, "a"),
                                  {std::string(SingleInstance::maxRequestBytes - 13, 'x')}}) {
        EXPECT_FALSE(SingleInstance::send(app, arguments, 2s));
        auto claim = SingleInstance::claim(app, arguments, calls_.handler(), 2s);
        EXPECT_TRUE(claim.otherInstance && !claim.reply);
    }
    EXPECT_TRUE(calls_.calls().empty());
    EXPECT_EQ(err.count("exceed the request limits"), 4u) << err.text();
}

TEST_F(SingleInstanceTest, FolderAndSocketAreTheUsersAloneAndNotInherited) {
    std::set<int> before;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) before.insert(std::stoi(e.path().filename()));
    auto instance = primary();
    EXPECT_EQ(instance->folder(), place());
    EXPECT_FALSE(instance->inPrivateFallback());
    struct stat folder {}, socket {};
    ASSERT_EQ(lstat(place().c_str(), &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    ASSERT_EQ(lstat(instance->socketPath().c_str(), &socket), 0);
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(socket.st_mode & 0777, 0600u);
    EXPECT_EQ(instance->socketPath(), place() / "instance.sock");
    // A child that inherited the listening socket would keep a dead instance reachable.
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        int fd = std::stoi(e.path().filename());
        if (!before.count(fd) && fcntl(fd, F_GETFD) >= 0) {
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
        }
    }
}

TEST_F(SingleInstanceTest, FolderIsInTheRuntimeFolderOnlyWhenThatIsTheUsers) {
    const fs::path tmp = "/tmp/" + app + "-" + std::to_string(geteuid());
    const fs::path notMine = home_.makeFolder("not-mine");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(notMine.c_str(), 65534, 65534), 0);
    }
    const std::vector<std::pair<std::optional<std::string>, fs::path>> cases{
        {runtime().string(), place()},
        {std::nullopt, tmp},
        {"runtime", tmp}, // relative
        {home_.writeFile("file", "").string(), tmp},
        {(runtime() / "missing").string(), tmp},
        {notMine.string(), root ? tmp : notMine / app},
    };
    const fs::path noSessions = home_.path() / "no-sessions";
    for (const auto& [variable, expected] : cases) {
        if (variable) setenv("XDG_RUNTIME_DIR", variable->c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(SingleInstance::preferredFolder(app, noSessions), expected) << variable.value_or("unset");
    }
    // Without the variable (a start by cron), the session's runtime folder
    // of this user, where a desktop start listens, when it is the user's.
    const fs::path sessions = home_.makeFolder("sessions");
    const fs::path mine = home_.makeFolder("sessions/" + std::to_string(geteuid()));
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::preferredFolder(app, sessions), mine / app);
    if (root) {
        ASSERT_EQ(chown(mine.c_str(), 65534, 65534), 0);
        EXPECT_EQ(SingleInstance::preferredFolder(app, sessions), tmp) << "another user's session folder";
    }
}

TEST_F(SingleInstanceTest, UnsafePlaceMakesAPrivateFolderThatStillServes) {
    struct Case {
        const char* what;
        std::function<void()> plant;
        bool needsRoot = false;
    };
    const fs::path target = home_.makeFolder("target");
    auto plantFolder = [&](mode_t mode, uid_t owner) {
        fs::create_directory(place());
        ASSERT_EQ(chmod(place().c_str(), mode), 0);
        ASSERT_EQ(chown(place().c_str(), owner, owner), 0);
    };
    const std::vector<Case> cases{
        {"a regular file", [&] { home_.writeFile("runtime/" + app, "planted"); }},
        {"a symbolic link to a folder of ours", [&] { fs::create_directory_symlink(target, place()); }},
        {"a folder open to all", [&] { plantFolder(0777, geteuid()); }},
        {"a folder open to the group", [&] { plantFolder(0750, geteuid()); }},
        {"another user's folder", [&] { plantFolder(0700, 65534); }, true},
    };
    chmod(target.c_str(), 0700);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && geteuid() != 0) continue; // only root can plant another user's folder
        c.plant();
        // Whoever planted it may listen there, waiting for our arguments.
        Fd impostor;
        if (fs::is_directory(place())) {
            sockaddr_un address = addressOf(place() / "instance.sock");
            impostor.fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ASSERT_EQ(bind(impostor.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ASSERT_EQ(listen(impostor.fd, 4), 0);
        }
        StderrCapture err;
        Calls calls;
        auto claim = SingleInstance::claim(app, {}, calls.handler({5, "private"}), 2s);
        ASSERT_TRUE(claim.primary);
        const fs::path folder = claim.primary->folder();
        EXPECT_TRUE(claim.primary->inPrivateFallback());
        EXPECT_EQ(folder.parent_path(), runtime());
        EXPECT_EQ(folder.filename().string().rfind(app + ".", 0), 0u) << folder;
        struct stat st {};
        ASSERT_EQ(lstat(folder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700);
        EXPECT_TRUE(err.contains(place().string())) << err.text();

        EXPECT_FALSE(SingleInstance::send(app, {"lost"}, 1s)); // later starts cannot find it...
        Fd client{connectRaw(claim.primary->socketPath())}; // ...but it serves
        ASSERT_GE(client.fd, 0);
        ASSERT_TRUE(put(client.fd, request({"found"})));
        EXPECT_EQ(untilClosed(client.fd, 2s), "TOLV1\n" + u32(5) + u32(7) + "private");
        EXPECT_EQ(calls.calls(), Arguments{{"found"}});
        if (impostor.fd >= 0) {
            EXPECT_LT(accept(impostor.fd, nullptr, nullptr), 0) << "the impostor was reached";
            EXPECT_TRUE(fs::exists(fs::symlink_status(place() / "instance.sock")));
        }

        claim.primary.reset();
        EXPECT_FALSE(fs::exists(folder));
        fs::remove_all(place());
        fs::remove(target / "instance.sock");
    }
}

TEST_F(SingleInstanceTest, LeftoverSocketDoesNotStopANewPrimary) {
    Claimers claimers(home_);
    const std::vector<std::pair<const char*, std::function<void()>>> cases{
        {"a socket nobody listens at",
         [&] {
             sockaddr_un address = addressOf(place() / "instance.sock");
             Fd fd{::socket(AF_UNIX, SOCK_STREAM, 0)};
             ASSERT_EQ(bind(fd.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         }},
        {"a regular file in the socket's place", [&] { home_.writeFile("runtime/" + app + "/instance.sock", "x"); }},
        {"the socket of a primary killed outright",
         [&] {
             int in[2], out[2];
             ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
             ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
             close(in[1]);
             pid_t pid = claimers.start(in[0], out[1]);
             close(in[0]);
             close(out[1]);
             EXPECT_EQ(readLine(out[0]), "primary " + std::to_string(pid));
             close(out[0]);
             kill(pid, SIGKILL);
             ASSERT_EQ(claimers.awaitEnded(1, 10s).size(), 1u);
         }},
    };
    for (const auto& [what, leave] : cases) {
        SCOPED_TRACE(what);
        fs::create_directory(place());
        chmod(place().c_str(), 0700);
        leave();
        ASSERT_TRUE(fs::exists(fs::symlink_status(place() / "instance.sock")));
        Calls calls;
        auto claim = SingleInstance::claim(app, {}, calls.handler(), 2s);
        ASSERT_TRUE(claim.primary);
        EXPECT_EQ(claim.primary->folder(), place());
        EXPECT_TRUE(SingleInstance::send(app, {"after"}, 2s));
        EXPECT_EQ(calls.calls(), Arguments{{"after"}});
    }
}

TEST_F(SingleInstanceTest, MalformedRequestsAreDroppedAtOnceWhileOthersAreServed) {
    const std::string magic = "TOLV1\n";
    const std::vector<std::pair<const char*, std::string>> cases{
        {"not our magic", "GET / HTTP/1.0\r\n\r\n"},
        {"another version", "TOLV2\n" + u32(1) + u32(1) + "x"},
        {"too many arguments", magic + u32(SingleInstance::maxArguments + 1)},
        {"a huge argument length", magic + u32(1) + u32(0xffffffff)},
        {"over the size limit in all", magic + u32(2) + u32(40000) + std::string(40000, 'a') + u32(40000)},
        {"bytes after the request", request({"a"}) + "junk"},
        {"closed within a request", magic + u32(1)},
    };
    StderrCapture err;
    auto instance = primary();
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        Fd bad{connectRaw(place() / "instance.sock")};
        ASSERT_GE(bad.fd, 0);
        put(bad.fd, bytes);
        if (what == std::string("closed within a request")) shutdown(bad.fd, SHUT_WR);
        const auto start = Clock::now();
        EXPECT_EQ(SingleInstance::send(app, {"good"}, 2s), (Reply{0, "ok\n"}));
        EXPECT_LT(Clock::now() - start, 500ms);
        EXPECT_EQ(untilClosed(bad.fd, patience / 2), ""); // closed with no reply, long before the patience ends
    }
    EXPECT_EQ(calls_.calls(), Arguments(cases.size(), {"good"}));
    EXPECT_EQ(err.count("dropped a connection"), cases.size()) << err.text();
}

TEST_F(SingleInstanceTest, SilentAndStalledClientsHoldUpNobodyAndAreDroppedAfterThePatience) {
    StderrCapture err;
    auto instance = primary();
    const auto start = Clock::now();
    Fd silent{connectRaw(place() / "instance.sock")}, stalled{connectRaw(place() / "instance.sock")};
    const std::string half = request({"never finished"}).substr(0, 15);
    ASSERT_TRUE(put(stalled.fd, half));
    EXPECT_EQ(SingleInstance::send(app, {"good"}, 2s), (Reply{0, "ok\n"}));
    EXPECT_LT(Clock::now() - start, 500ms);
    for (int fd : {silent.fd, stalled.fd}) EXPECT_EQ(untilClosed(fd, patience + 2s), "");
    EXPECT_GE(Clock::now() - start, patience * 3 / 4); // a slow but honest sender has time
    EXPECT_EQ(err.count("no whole request in time"), 2u) << err.text();
    EXPECT_EQ(calls_.calls(), Arguments{{"good"}});
}

TEST_F(SingleInstanceTest, SlowHandlerMakesSendersGiveUpButDropsNobodyWhoSentInTime) {
    std::promise<void> release;
    auto instance = primary({0, "ok\n"}, release.get_future().share());
    const std::string reply = "TOLV1\n" + u32(0) + u32(3) + "ok\n";
    const auto connected = Clock::now();
    Fd slow{connectRaw(place() / "instance.sock")}, waiting{connectRaw(place() / "instance.sock")};
    // Served after both connected, so by now the service has accepted them.
    ASSERT_TRUE(SingleInstance::send(app, {"probe"}, 2s));
    ASSERT_TRUE(put(slow.fd, request({"slow"})));
    while (calls_.calls().size() < 2) std::this_thread::sleep_for(1ms); // the handler has it

    const auto start = Clock::now();
    EXPECT_FALSE(SingleInstance::send(app, {"gave up"}, 300ms));
    auto claim = SingleInstance::claim(app, {"queued"}, calls_.handler(), 300ms);
    EXPECT_TRUE(claim.otherInstance && !claim.reply && !claim.primary);
    EXPECT_GE(Clock::now() - start, 600ms);
    EXPECT_LT(Clock::now() - start, 2s);
    // Sent while the handler holds the service, which finds it only after the patience ended.
    ASSERT_TRUE(put(waiting.fd, request({"waiting"})));
    std::this_thread::sleep_until(connected + patience + 300ms);
    release.set_value();
    EXPECT_EQ(untilClosed(slow.fd, 2s), reply);
    EXPECT_EQ(untilClosed(waiting.fd, 2s), reply);
    // Two replies went to senders that had left: that must not end the process.
    EXPECT_EQ(SingleInstance::send(app, {"next"}, 2s), (Reply{0, "ok\n"}));
    auto calls = calls_.calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, Arguments({{"gave up"}, {"next"}, {"probe"}, {"queued"}, {"slow"}, {"waiting"}}));
}

TEST_F(SingleInstanceTest, ConnectionsOfOtherUsersAreDropped) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    auto instance = primary();
    // Open the way, as a careless setup might; the peer's uid must still be checked.
    for (const fs::path& p : {home_.path(), runtime(), place()}) chmod(p.c_str(), 0711);
    chmod(instance->socketPath().c_str(), 0666);
    const std::string bytes = request({"intruder"});
    const sockaddr_un socket = addressOf(instance->socketPath());
    for (uid_t uid : {uid_t{65534}, geteuid()}) {
        pid_t child = fork();
        if (child == 0) { // only async-signal-safe calls from here on
            alarm(5);
            if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(3);
            int fd = connectRaw(socket);
            if (fd < 0) _exit(2);
            (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); // it may be closed already
            char c;
            _exit(read(fd, &c, 1) == 1 ? 0 : 1); // 0: answered, 1: dropped
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << uid;
        EXPECT_EQ(WEXITSTATUS(status), uid == geteuid() ? 0 : 1) << uid;
    }
    EXPECT_EQ(calls_.calls(), Arguments{{"intruder"}});
}

TEST_F(SingleInstanceTest, TwentyStartsAtOnceLeaveOnePrimaryThatHearsFromAllOthers) {
    testing_support::runWithin(60s, [&] {
        Claimers claimers(home_);
        int go[2], out[2];
        ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        std::set<pid_t> started;
        for (int i = 0; i < 20; ++i) started.insert(claimers.start(go[0], out[1]));
        close(go[0]);
        close(out[1]);
        close(go[1]); // all go at the same moment
        auto ended = claimers.awaitEnded(19, 30s);
        EXPECT_EQ(ended.size(), 19u);
        std::set<int> statuses;
        for (const auto& [pid, t] : ended) statuses.insert(t.signaled ? -1 : t.status);
        std::set<int> expected;
        for (int n = 1; n <= 19; ++n) expected.insert(n); // the number of lines when each was recorded
        EXPECT_EQ(statuses, expected);
        std::set<pid_t> recorded, secondaries;
        std::istringstream lines(testing_support::readFile(claimers.record));
        for (std::string line; std::getline(lines, line);) recorded.insert(std::stoi(line));
        for (const auto& [pid, t] : ended) secondaries.insert(pid);
        EXPECT_EQ(recorded, secondaries);

        home_.writeFile("done", "");
        ended = claimers.awaitEnded(20, 10s);
        ASSERT_EQ(ended.size(), 20u);
        std::string output = untilClosed(out[0], 5s).value_or("");
        close(out[0]);
        std::set<pid_t> primaries;
        std::istringstream printed(output);
        for (std::string line; std::getline(printed, line);)
            if (line.rfind("primary ", 0) == 0) primaries.insert(std::stoi(line.substr(8)));
        ASSERT_EQ(primaries.size(), 1u) << output;
        const pid_t primary = *primaries.begin();
        EXPECT_FALSE(secondaries.count(primary));
        EXPECT_EQ(ended[primary].status, 0);
        EXPECT_EQ(secondaries.size() + 1, started.size());
    });
}

TEST_F(SingleInstanceTest, EndingIsPromptAndRemovesOnlyItsOwnSocket) {
    auto first = primary({1, "first"});
    Fd silent{connectRaw(place() / "instance.sock")};
    // Someone removes the socket file: a later start becomes primary beside the first.
    fs::remove(place() / "instance.sock");
    Calls calls;
    auto second = SingleInstance::claim(app, {}, calls.handler({2, "second"}), 2s);
    ASSERT_TRUE(second.primary);

    const auto start = Clock::now();
    first.reset();
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_EQ(untilClosed(silent.fd, 100ms), "");
    EXPECT_EQ(SingleInstance::send(app, {}, 2s), (Reply{2, "second"}));

    second.primary.reset();
    EXPECT_FALSE(fs::exists(fs::symlink_status(place() / "instance.sock")));
    EXPECT_TRUE(SingleInstance::claim(app, {}, calls.handler(), 2s).primary);
}
