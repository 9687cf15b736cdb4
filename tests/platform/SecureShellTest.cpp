#include "platform/remote/SecureShell.h"

#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"

#include "support/SshServer.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using platform::SecureShell;
using testing_support::SshServer;
using testing_support::TempHome;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Generous: a run that works answers within a second or two.
constexpr std::chrono::milliseconds kBound = 30s;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    if (const size_t at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

void writeText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The value of "-o <name>=<value>" among ssh's options, "" when absent.
std::string optionValue(const std::vector<std::string>& options, const std::string& name) {
    for (size_t i = 0; i + 1 < options.size(); ++i)
        if (options[i] == "-o" && startsWith(options[i + 1], name + "=")) return options[i + 1].substr(name.size() + 1);
    return "";
}

// Relative path → contents, for every file below root.
std::map<std::string, std::string> filesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = testing_support::readFile(entry.path());
    return files;
}

class SecureShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    }

    // A server that the program's own client configuration reaches.
    SshServer& startServer() {
        servers_.push_back(std::make_unique<SshServer>());
        servers_.back()->installClientConfig(SecureShell::configFile());
        return *servers_.back();
    }

    fs::path sharingFolder() const { return home_.path() / "runtime" / "tolv-archiver-ssh"; }

    TempHome home_;
    std::vector<std::unique_ptr<SshServer>> servers_; // before home_ goes, so do their connections
};

TEST_F(SecureShellTest, RunsACommandWithItsInputOutputErrorsAndStatus) {
    const SshServer& server = startServer();
    const std::string large(3 << 20, 'x');
    struct Case {
        const char* what;
        std::string command, input;
        int status;
        std::string output, errors;
    } cases[] = {
        {"a plain command", "echo hello", "", 0, "hello\n", ""},
        {"standard input", "cat", "one\ntwo\n", 0, "one\ntwo\n", ""},
        {"no input reads as an empty one", "cat; echo end", "", 0, "end\n", ""},
        {"the remote status and errors", "echo out; echo oops >&2; exit 7", "", 7, "out\n", "oops\n"},
        {"more than a pipe holds, both ways", "cat", large, 0, large, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SecureShell::Result r = SecureShell::run(server.login(), c.command, c.input, kBound);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.output == c.output) << r.output.size() << " bytes: " << r.output.substr(0, 200);
        EXPECT_EQ(r.errors, c.errors);
        EXPECT_EQ(SecureShell::failureReason(r), "");
    }
}

TEST_F(SecureShellTest, AQuotedWordReachesTheServerAsItIs) {
    const SshServer& server = startServer();
    const std::string words[] = {"plain",
                                 "",
                                 "it's",
                                 "'",
                                 "two  spaces\tand a tab",
                                 "\"double\" and `back` quotes",
                                 "line\nbreak\n",
                                 "-n",
                                 "$HOME ${x} $(false) \\ * ? ~ ; & | < > #",
                                 "caf\xc3\xa9"};
    for (const std::string& word : words) {
        SCOPED_TRACE(word);
        const SecureShell::Result r =
            SecureShell::run(server.login(), "printf %s " + SecureShell::quoted(word), "", kBound);
        EXPECT_EQ(r.status, 0) << r.errors;
        EXPECT_EQ(r.output, word);
    }
}

TEST_F(SecureShellTest, NamesWhyAServerCannotBeUsed) {
    struct Case {
        const char* what;
        std::function<void(SshServer&)> arrange;
        const char* reason; // how it starts; ssh's own words follow
    } cases[] = {
        {"nothing listens on the port", [](SshServer& s) { s.stop(); }, "server unreachable: "},
        {"a key the server does not let in",
         [](SshServer& s) {
             writeText(SecureShell::configFile(),
                       replaced(s.clientConfig(), s.userKey().string(), s.strangerKey().string()));
         },
         "login refused: "},
        {"an unknown host key, checked strictly",
         [](SshServer& s) {
             writeText(SecureShell::configFile(),
                       replaced(s.clientConfig(), "StrictHostKeyChecking no", "StrictHostKeyChecking yes"));
         },
         "login refused: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SshServer& server = startServer();
        c.arrange(server);
        const SecureShell::Result r = SecureShell::run(server.login(), "echo hello", "", kBound);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.output, "");
        const std::string reason = SecureShell::failureReason(r);
        EXPECT_TRUE(startsWith(reason, c.reason)) << reason;
        EXPECT_GT(reason.size(), std::string(c.reason).size()) << "ssh's own words are missing";
    }
}

TEST_F(SecureShellTest, AServerThatStopsAnsweringIsNotWaitedForBeyondTheBound) {
    struct Case {
        const char* what;
        bool established; // a shared connection is up before the server stops answering
        std::chrono::milliseconds bound;
        bool timedOut; // false: ssh gives up by itself first (ConnectTimeout)
    } cases[] = {
        {"a new connection, short bound", false, 2s, true},
        {"an established shared connection, short bound", true, 2s, true},
        {"a new connection, bound beyond ssh's own", false, 40s, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SshServer& server = startServer();
        if (c.established) {
            ASSERT_EQ(SecureShell::run(server.login(), "true", "", kBound).status, 0);
        }
        server.pause();
        const auto before = std::chrono::steady_clock::now();
        const SecureShell::Result r = SecureShell::run(server.login(), "echo hello", "", c.bound);
        EXPECT_LT(std::chrono::steady_clock::now() - before, c.bound + 10s);
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.timedOut, c.timedOut);
        EXPECT_EQ(r.output, "");
        EXPECT_EQ(SecureShell::failureReason(r), "server not responding") << r.errors;
    }
}

TEST_F(SecureShellTest, AConnectionThatFallsSilentMidCommandIsGivenUpByTheKeepAlive) {
    // Unshared, so that the ssh run() waits for is the one that notices; it says so at its INFO level.
    fs::create_directories(sharingFolder());
    fs::permissions(sharingFolder(), fs::perms(0755));
    SshServer& server = startServer();
    writeText(SecureShell::configFile(), replaced(server.clientConfig(), "LogLevel ERROR", "LogLevel INFO"));
    const fs::path started = home_.path() / "started";
    SecureShell::Result r;
    std::thread running([&] {
        r = SecureShell::run(server.login(), "touch " + SecureShell::quoted(started) + "; sleep 60", "", 120s);
    });
    ASSERT_TRUE(testing_support::waitUntil([&] { return fs::exists(started); }));
    server.pause();
    const auto before = std::chrono::steady_clock::now();
    running.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 50s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(SecureShell::failureReason(r), "server not responding") << r.errors;
}

TEST_F(SecureShellTest, ASharedConnectionFollowsTheServerDownAndUpAgain) {
    // A runtime folder whose name ssh's option parsing must keep whole.
    const fs::path runtime = home_.makeFolder("r 's\"");
    fs::permissions(runtime, fs::perms(0700));
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    SshServer& server = startServer();
    ASSERT_EQ(SecureShell::run(server.login(), "echo up", "", kBound).output, "up\n");
    bool shared = false;
    for (const auto& entry : fs::directory_iterator(runtime / "tolv-archiver-ssh")) shared |= entry.is_socket();
    EXPECT_TRUE(shared) << "no connection master's socket in " << runtime;

    server.stop();
    const SecureShell::Result down = SecureShell::run(server.login(), "echo up", "", kBound);
    EXPECT_EQ(down.status, 255);
    EXPECT_TRUE(startsWith(SecureShell::failureReason(down), "server unreachable: "))
        << SecureShell::failureReason(down);

    server.start();
    const SecureShell::Result up = SecureShell::run(server.login(), "echo up", "", kBound);
    EXPECT_EQ(up.output, "up\n") << up.errors;
}

TEST_F(SecureShellTest, RunsFromManyThreadsAtOnce) {
    const SshServer& server = startServer();
    std::vector<SecureShell::Result> results(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back(
            [&, i] { results[i] = SecureShell::run(server.login(), "echo " + std::to_string(i), "", kBound); });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i].output, std::to_string(i) + "\n") << results[i].errors;
}

TEST_F(SecureShellTest, RsyncCopiesThroughTheShellCommand) {
    // A configuration path that rsync's splitting of -e must keep whole.
    setenv("XDG_CONFIG_HOME", (home_.home() / "it's a \"config\"").c_str(), 1);
    const SshServer& server = startServer();
    const fs::path source = home_.makeFolder("source"), target = home_.makeFolder("target");
    home_.writeFile("source/photo 1.jpg", "first");
    home_.writeFile("source/day/it's.raw", std::string(100000, 'r'));
    const std::optional<std::string> rsync = platform::SearchPath::find("rsync");
    if (!rsync) GTEST_SKIP() << "rsync is not installed";

    platform::Task::Options options;
    options.path = *rsync;
    options.arguments = {"-a", "-e", SecureShell::rsyncShellCommand(), source.string() + "/",
                         server.destination(target) + "/"};
    const platform::Task::Output copied = platform::Task::runCapturingOutput(options);
    EXPECT_EQ(copied.termination.status, 0);
    EXPECT_FALSE(copied.termination.signaled);
    EXPECT_EQ(filesBelow(target), filesBelow(source));
}

TEST_F(SecureShellTest, SharesConnectionsOnlyThroughAPrivateFolderOfOurs) {
    const fs::path folder = sharingFolder();
    const fs::path fallback = "/tmp/tolv-archiver-ssh-" + std::to_string(getuid());
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string controlPath; // "none": not shared
    } cases[] = {
        {"made when missing", [&] { fs::remove_all(folder); }, (folder / "%C").string()},
        {"open to others", [&] { fs::permissions(folder, fs::perms(0755)); }, "none"},
        {"a link to a private folder",
         [&] {
             fs::remove_all(folder);
             fs::create_directory_symlink(home_.makeFolder("elsewhere"), folder);
             fs::permissions(home_.path() / "elsewhere", fs::perms(0700));
         },
         "none"},
        {"no room for a socket name below the runtime folder",
         [&] { setenv("XDG_RUNTIME_DIR", home_.makeFolder(std::string(60, 'r')).c_str(), 1); },
         (fallback / "%C").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const std::vector<std::string> options = SecureShell::options();
        EXPECT_EQ(optionValue(options, "ControlPath"), c.controlPath);
        EXPECT_EQ(optionValue(options, "ControlMaster"), c.controlPath == "none" ? "no" : "auto");
        if (c.controlPath != "none") {
            EXPECT_EQ(fs::symlink_status(fs::path(c.controlPath).parent_path()).permissions(), fs::perms(0700));
        }
    }
}

TEST_F(SecureShellTest, UsesItsOwnClientConfigurationOnlyWhenThereIsOne) {
    const auto configOption = [] {
        const std::vector<std::string> options = SecureShell::options();
        for (size_t i = 0; i + 1 < options.size(); ++i)
            if (options[i] == "-F") return options[i + 1];
        return std::string();
    };
    EXPECT_EQ(SecureShell::configFile(), home_.home() / ".config" / "tolv-archiver" / "ssh_config");
    EXPECT_EQ(configOption(), "") << "ssh refuses to run with a missing -F file";
    writeText(SecureShell::configFile(), "");
    EXPECT_EQ(configOption(), SecureShell::configFile().string());
}

TEST_F(SecureShellTest, OffersTheFirstConfiguredKeyThatExists) {
    const std::string user = SshServer::user();
    const fs::path key = home_.writeFile("keys/present", "a key");
    const fs::path missing = home_.path() / "keys" / "missing";
    const fs::path folder = home_.makeFolder("keys/a folder");
    const fs::path tokenised = home_.writeFile("keys/" + user + "-someone-100%", "a key");
    struct Case {
        const char* what;
        std::vector<std::string> files;
        std::optional<std::string> offered;
    } cases[] = {
        {"the only one", {key.string()}, key.string()},
        {"after a missing file and a folder", {missing.string(), folder.string(), key.string()}, key.string()},
        {"with ssh's tokens", {(home_.path() / "keys" / "%u-%r-100%%").string()}, tokenised.string()},
        {"none exists", {missing.string()}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string config = "Host localhost\n";
        for (const std::string& file : c.files) config += "  IdentityFile \"" + file + "\"\n";
        writeText(SecureShell::configFile(), config);
        EXPECT_EQ(SecureShell::identityFor("someone@localhost"), c.offered);
    }
}

TEST_F(SecureShellTest, WithoutSshNothingStarts) {
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", home_.makeFolder("no-programs").c_str(), 1);
    const SecureShell::Result r = SecureShell::run("someone@localhost", "true", "", kBound);
    const std::optional<std::string> identity = SecureShell::identityFor("someone@localhost");
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(SecureShell::failureReason(r), "server unreachable: ssh is not installed");
    EXPECT_EQ(identity, std::nullopt);
}

} // namespace
