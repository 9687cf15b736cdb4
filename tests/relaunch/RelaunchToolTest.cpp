// The relaunch tool as the application's Relaunch command runs it: a real
// process, waiting on real processes, starting the program of a fake bundle
// that writes down how it was started.

#include "support/WaitUntil.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readFile;
using testing_support::TempHome;

namespace {

const fs::path kTool = fs::path(TOLV_TEST_BUNDLE_PATH) / "Contents/MacOS/relaunch";

// Writes pid, parent, session, argument count, working folder and standard
// input into <bundle's folder>/launched, whole (by rename), then either ends
// or, lingering, stays running as the same process.
std::string fakeProgram(bool lingers) {
    return std::string("#!/bin/sh\n"
                       "argc=$#\n"
                       "set -- $(cat /proc/$$/stat)\n"
                       "out=\"$(dirname \"$0\")/../../../launched\"\n"
                       "printf 'pid=%s\\nppid=%s\\nsid=%s\\nargc=%s\\ncwd=%s\\nstdin=%s\\n' \"$1\" \"$4\" \"$6\" "
                       "\"$argc\" \"$(readlink /proc/$$/cwd)\" \"$(readlink /proc/$$/fd/0)\" > \"$out.part\"\n"
                       "mv \"$out.part\" \"$out\"\n") +
           (lingers ? "exec sleep 30\n" : "");
}

// <folder>/<bundleName>/Contents/{Info.plist,MacOS/Fake}; the list names
// the program only when declaresName is set.
fs::path makeFakeBundle(const TempHome& tmp, const std::string& bundleName, bool declaresName, bool lingers = false) {
    const std::string info = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>") +
                             (declaresName ? "<key>CFBundleExecutable</key><string>Fake</string>" : "") +
                             "<key>CFBundleIdentifier</key><string>test.fake</string></dict></plist>\n";
    tmp.writeFile(bundleName + "/Contents/Info.plist", info);
    fs::path program = tmp.writeFile(bundleName + "/Contents/MacOS/Fake", fakeProgram(lingers));
    fs::permissions(program, fs::perms::owner_all);
    return tmp.path() / bundleName;
}

using testing_support::waitUntil;

bool waitForFile(const fs::path& file, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return fs::exists(file); }, timeout);
}

bool mentions(const fs::path& log, const std::string& text) { return readFile(log).find(text) != std::string::npos; }

std::map<std::string, std::string> launchRecord(const fs::path& file) {
    std::map<std::string, std::string> record;
    std::istringstream in(readFile(file));
    for (std::string line; std::getline(in, line);)
        if (auto eq = line.find('='); eq != std::string::npos) record[line.substr(0, eq)] = line.substr(eq + 1);
    return record;
}

// The fields of /proc/<pid>/stat after the parenthesised name, from the
// state on; empty when the process is gone.
std::vector<std::string> statFields(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(stat.substr(close + 1));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;
}

bool runningProcess(pid_t pid) {
    auto fields = statFields(pid);
    return !fields.empty() && fields[0] != "Z";
}

// User and system clock ticks the process has used so far.
long cpuTicks(pid_t pid) {
    auto fields = statFields(pid);
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : -1;
}

// Makes pidfd_open fail with ENOSYS, as on a kernel before 5.3. The filter
// stays with the process through exec. Must run in a child after fork.
bool denyPidfdOpen() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A child of the test with standard output and error in a file, and standard
// input from a pipe (the test's own may be /dev/null already); killed and
// reaped if it still runs when the test ends.
class Child {
public:
    struct Options {
        std::vector<std::string> argv;
        fs::path output = "/dev/null";
        std::map<std::string, std::string> environment{}; // added to the test's own
        fs::path workingDirectory{};                    // empty: the test's own
        bool withoutPidfd = false;

        Options& to(fs::path file) { output = std::move(file); return *this; }
        Options& with(const std::string& name, const std::string& value) {
            environment[name] = value;
            return *this;
        }
        Options& in(fs::path folder) { workingDirectory = std::move(folder); return *this; }
        Options& denyingPidfd(bool deny) { withoutPidfd = deny; return *this; }
    };
    static Options program(std::vector<std::string> argv) {
        Options o;
        o.argv = std::move(argv);
        return o;
    }
    static Options tool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), kTool.string());
        return program(std::move(arguments));
    }

    explicit Child(const Options& o) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        for (const auto& [name, value] : o.environment) env.push_back(name + "=" + value);
        std::vector<char*> argv = pointers(o.argv), envp = pointers(env);
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        int out = open(o.output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            if (!o.workingDirectory.empty() && chdir(o.workingDirectory.c_str()) != 0) _exit(125);
            if (o.withoutPidfd && !denyPidfdOpen()) {
                static const char message[] = "test: could not install the seccomp filter\n";
                (void)!write(STDERR_FILENO, message, sizeof message - 1);
                _exit(125);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out);
        close(in[0]);
        input_ = in[1];
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (input_ >= 0) close(input_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status (128 + signal when killed), or nullopt while it runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        waitUntil([&] { return reaped(); }, timeout);
        return status_;
    }

private:
    static std::vector<char*> pointers(const std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
        out.push_back(nullptr);
        return out;
    }
    bool reaped() {
        int status = 0;
        if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        return status_.has_value();
    }

    pid_t pid_ = -1;
    int input_ = -1; // the write end of the child's standard input
    std::optional<int> status_;
};

// A pid that named a process a moment ago and names none now.
pid_t gonePid() {
    Child done(Child::program({"/bin/true"}));
    EXPECT_EQ(done.waitForExit(10s), 0);
    return done.pid();
}

// The start the relaunched program must see: its own session, no
// arguments, the root folder, nothing to read.
void expectDetachedPlainStart(const std::map<std::string, std::string>& record) {
    ASSERT_TRUE(record.count("pid")) << "no launch record";
    EXPECT_EQ(record.at("sid"), record.at("pid")) << "not in a session of its own";
    EXPECT_NE(record.at("sid"), std::to_string(getsid(0)));
    EXPECT_EQ(record.at("argc"), "0");
    EXPECT_EQ(record.at("cwd"), "/");
    EXPECT_EQ(record.at("stdin"), "/dev/null");
}

struct WaitMechanism {
    const char* name;
    bool withoutPidfd;
};
constexpr WaitMechanism kWaitMechanisms[] = {{"pidfd", false}, {"kill(pid, 0) every 100 ms", true}};

} // namespace

TEST(RelaunchToolTest, WaitsForTheProcessToEndThenStartsTheProgramDetached) {
    for (const auto& mechanism : kWaitMechanisms) {
        SCOPED_TRACE(mechanism.name);
        TempHome tmp;
        const fs::path bundle = makeFakeBundle(tmp, "Fake.app", true, /*lingers=*/true);
        const fs::path launched = tmp.path() / "launched", log = tmp.path() / "tool.log";
        Child application(Child::program({"/bin/sleep", "30"}));
        const std::string pid = std::to_string(application.pid());
        Child tool(Child::tool({bundle.string(), pid, "1"}).to(log).denyingPidfd(mechanism.withoutPidfd));

        ASSERT_TRUE(waitUntil([&] { return mentions(log, "relaunch: waiting for pid " + pid); }, 10s)) << readFile(log);
        const long ticksBefore = cpuTicks(tool.pid());
        EXPECT_FALSE(waitForFile(launched, 1s)) << "started while pid " << pid << " still runs";
        EXPECT_FALSE(tool.waitForExit(0ms));
        EXPECT_LT(cpuTicks(tool.pid()) - ticksBefore, 20) << "the wait spins";

        // Not reaped yet: an ended process its parent has not collected counts as ended.
        kill(application.pid(), SIGKILL);
        ASSERT_TRUE(waitForFile(launched, 10s)) << readFile(log);
        EXPECT_EQ(application.waitForExit(10s), 128 + SIGKILL);
        const auto record = launchRecord(launched);
        expectDetachedPlainStart(record);

        EXPECT_EQ(tool.waitForExit(10s), 0) << "the tool must not wait for the program it started";
        const pid_t started = std::stoi(record.at("pid"));
        EXPECT_TRUE(runningProcess(started)) << "the program ended with the tool";
        kill(started, SIGKILL);

        EXPECT_TRUE(mentions(log, "relaunch: pid " + pid + " ended")) << readFile(log);
        EXPECT_TRUE(mentions(log, "relaunch: starting " + (bundle / "Contents/MacOS/Fake").string())) << readFile(log);
        EXPECT_EQ(mentions(log, "pidfd_open is unavailable"), mechanism.withoutPidfd) << readFile(log);
    }
}

TEST(RelaunchToolTest, AProcessAlreadyGoneStartsTheProgramAtOnce) {
    struct Case {
        const char* name;
        bool declaresName; // else the bundle's name gives the program's
        const char* bundleName;
        const char* relativeArgument; // nullptr: the absolute path
        const char* flags;
        bool withoutPidfd;
    } cases[] = {
        {"the name Info.plist declares", true, "Photo Station.app", nullptr, "0", false},
        {"the bundle's name without the key", false, "Fake.app", nullptr, "-3", false},
        {"a relative path, slash last", true, "Photo Station.app", "Photo Station.app/", "18446744073709551615", false},
        {"no pidfd_open", true, "Fake.app", nullptr, "0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome tmp;
        const fs::path bundle = makeFakeBundle(tmp, c.bundleName, c.declaresName);
        const fs::path log = tmp.path() / "tool.log";
        const std::string bundleArgument = c.relativeArgument ? c.relativeArgument : bundle.string();
        Child tool(Child::tool({bundleArgument, std::to_string(gonePid()), c.flags})
                       .to(log)
                       .in(tmp.path())
                       .denyingPidfd(c.withoutPidfd));

        EXPECT_EQ(tool.waitForExit(10s), 0) << readFile(log);
        ASSERT_TRUE(waitForFile(tmp.path() / "launched", 10s)) << readFile(log);
        expectDetachedPlainStart(launchRecord(tmp.path() / "launched"));
    }
}

TEST(RelaunchToolTest, GivesUpWithoutStartingWhenTheProcessOutlivesTheBound) {
    for (const auto& mechanism : kWaitMechanisms) {
        SCOPED_TRACE(mechanism.name);
        TempHome tmp;
        const fs::path bundle = makeFakeBundle(tmp, "Fake.app", true);
        const fs::path log = tmp.path() / "tool.log";
        Child application(Child::program({"/bin/sleep", "30"}));
        const std::string pid = std::to_string(application.pid());
        const auto start = std::chrono::steady_clock::now();
        Child tool(Child::tool({bundle.string(), pid, "0"})
                       .to(log)
                       .with("TOLV_RELAUNCH_WAIT_SECONDS", "1")
                       .denyingPidfd(mechanism.withoutPidfd));

        EXPECT_EQ(tool.waitForExit(10s), 1) << readFile(log);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms) << "gave up before the bound";
        EXPECT_TRUE(mentions(log, "relaunch: process " + pid + " still running after 1 s: not relaunching"))
            << readFile(log);
        EXPECT_FALSE(waitForFile(tmp.path() / "launched", 500ms)) << "started although the process still runs";
    }
}

TEST(RelaunchToolTest, WrongArgumentsStartNothing) {
    TempHome tmp;
    const fs::path bundle = makeFakeBundle(tmp, "Fake.app", true);
    tmp.writeFile("Empty.app/Contents/Info.plist", readFile(bundle / "Contents/Info.plist"));
    const std::string b = bundle.string(), gone = std::to_string(gonePid());
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitStatus;
        const char* says;
    } cases[] = {
        {"no arguments", {}, 2, "expected 3 arguments"},
        {"two arguments", {b, gone}, 2, "expected 3 arguments"},
        {"four arguments", {b, gone, "0", "0"}, 2, "expected 3 arguments"},
        {"a pid that is no number", {b, "abc", "0"}, 2, "PID must be"},
        {"a negative pid", {b, "-5", "0"}, 2, "PID must be"},
        {"pid 0, which kill() takes for the whole group", {b, "0", "0"}, 2, "PID must be"},
        {"a pid beyond any process id", {b, "99999999999", "0"}, 2, "PID must be"},
        {"flags that are no number", {b, gone, "x"}, 2, "LAUNCH_FLAGS must be"},
        {"flags with a fraction", {b, gone, "1.5"}, 2, "LAUNCH_FLAGS must be"},
        {"a missing bundle", {(tmp.path() / "Missing.app").string(), gone, "0"}, 1, "no application bundle"},
        {"a bundle without its program", {(tmp.path() / "Empty.app").string(), gone, "0"}, 1, "has no program"},
    };
    const fs::path log = tmp.path() / "tool.log";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log);
        Child tool(Child::tool(c.arguments).to(log));
        EXPECT_EQ(tool.waitForExit(10s), c.exitStatus);
        EXPECT_TRUE(mentions(log, c.says)) << readFile(log);
    }
    // A run that ignored its check would have started the valid bundle.
    EXPECT_FALSE(waitForFile(tmp.path() / "launched", 500ms));
}

TEST(RelaunchToolTest, HelpAndVersionAnswerWithoutStartingAnything) {
    TempHome tmp;
    const fs::path bundle = makeFakeBundle(tmp, "Fake.app", true);
    const fs::path help = tmp.path() / "help.txt", version = tmp.path() / "version.txt";
    Child helpRun(Child::tool({"--help"}).to(help));
    Child versionRun(Child::tool({bundle.string(), std::to_string(gonePid()), "--version"}).to(version));
    EXPECT_EQ(helpRun.waitForExit(10s), 0);
    EXPECT_EQ(versionRun.waitForExit(10s), 0);

    for (const char* part : {"BUNDLE", "PID", "LAUNCH_FLAGS", "no effect on Linux", "TOLV_RELAUNCH_WAIT_SECONDS"})
        EXPECT_TRUE(mentions(help, part)) << part << " missing from:\n" << readFile(help);
    EXPECT_EQ(readFile(version).rfind("relaunch (Tolv-Archiver) ", 0), 0u) << readFile(version);
    EXPECT_FALSE(waitForFile(tmp.path() / "launched", 500ms));
}
