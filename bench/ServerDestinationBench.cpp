// What archiving into a destination on another machine costs: a real sshd
// on a local port (the test suite's SshServer) serves a folder of this
// machine, and a watcher archives into it with fast archiving on, as a user's
// scan and events do (the look at the server's marker, the copy, the look
// after). Beside it, one `rsync -a -e <the same ssh>` of the same tree.
//
//   ServerDestinationBench [ROUNDS=5] [FIRST=2000] [NO_CHANGE=20000] [EVENTS=30]
//
// Figures, medians of ROUNDS in alternating order: the first pass of FIRST
// files of 20 KiB into an empty archive; the no-change pass over NO_CHANGE
// archived files of 4 KiB; the logins sshd accepted during a pass (with ssh's
// connection sharing, the first pass opens one connection and the passes
// within a minute after it none); and event-to-archived latency over EVENTS
// new files written one at a time into the watched folder.

#include "BenchSupport.h"
#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/remote/SecureShell.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"
#include "support/SshServer.h"
#include "pass/FolderChoice.h"
#include "watch/WatcherNSObject.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Station {
    std::shared_ptr<WatcherNSObject> watcher;

    void waitIdle() const {
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    double pass() const {
        const auto start = Clock::now();
        platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
        waitIdle();
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
};

double rsyncA(const fs::path& source, const std::string& target) {
    const auto start = Clock::now();
    platform::Task::runCapturingOutput({.path = platform::SearchPath::find("rsync").value_or("rsync"),
                                        .arguments = {"-a", "-e", platform::SecureShell::rsyncShellCommand(),
                                                      source.string() + "/", target + "/"},
                                        .workingDirectory = {}});
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool waitFor(const fs::path& file) {
    const auto end = Clock::now() + std::chrono::seconds(120);
    while (!fs::exists(file))
        if (Clock::now() > end) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

// First passes, then no-change passes, ours and rsync's in alternating order.
void compare(const Station& station, const testing_support::SshServer& server, const fs::path& source,
             const fs::path& ours, const fs::path& theirs, int rounds, bool firstPass, int files) {
    std::vector<double> ourTimes, rsyncTimes, logins;
    for (int r = 0; r < rounds; ++r) {
        if (firstPass) {
            fs::remove_all(ours / "Main");
            fs::remove_all(theirs);
        }
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + r) % 2 == 0) {
                const int before = server.acceptedLogins();
                ourTimes.push_back(station.pass());
                logins.push_back(server.acceptedLogins() - before);
            } else {
                rsyncTimes.push_back(rsyncA(source, server.destination(theirs)));
            }
        }
    }
    const double a = bench::median(ourTimes), b = bench::median(rsyncTimes);
    std::printf("%s, %d files: ours %.3f s, rsync -a -e ssh %.3f s, ratio %.2f; logins per pass: median %.0f, "
                "most %.0f\n",
                firstPass ? "first pass" : "no-change pass", files, a, b, a / b, bench::median(logins),
                *std::max_element(logins.begin(), logins.end()));
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int first = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int noChange = argc > 3 ? std::atoi(argv[3]) : 20000;
    const int events = argc > 4 ? std::atoi(argv[4]) : 30;

    const fs::path root = bench::makeTempHome();
    if (const std::string why = testing_support::SshServer::unavailable(); !why.empty()) {
        std::printf("no sshd here: %s\n", why.c_str());
        return 1;
    }
    testing_support::SshServer server;
    server.installClientConfig(platform::SecureShell::configFile());
    const fs::path source = root / "Shoot/Main", ours = root / "Server/ours", theirs = root / "Server/theirs";
    fs::create_directories(source);
    fs::create_directories(ours);
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;

    auto& prefs = platform::UserDefaults::standard();
    bench::chooseFolder(prefs, 1, source);
    if (auto why = FolderChoice::chooseTyped(CommonHeader::kDestinationSlot, server.destination(ours))) {
        std::printf("%s\n", why->c_str());
        return 1;
    }
    prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs.setInteger(kPrefMinimumFreeSpaceMB, 0);
    prefs.setBool(kPrefUseBatchedSynchronization, true);
    prefs.synchronize();

    Station station{WatcherNSObject::create()};
    station.watcher->set_index(1);
    station.watcher->set_Param(CommonHeader::slotParameters(1));
    station.watcher->setupObservers();

    bench::buildSource(source, first, 20 * 1024);
    compare(station, server, source, ours, theirs, rounds, true, first);
    fs::remove_all(source);
    bench::buildSource(source, noChange, 4 * 1024);
    station.pass();
    rsyncA(source, server.destination(theirs));
    compare(station, server, source, ours, theirs, rounds, false, noChange);

    // A pass with no shared connection yet: how many logins one pass takes.
    std::vector<std::string> exitMaster = platform::SecureShell::options();
    exitMaster.insert(exitMaster.end(), {"-O", "exit", server.login()});
    platform::Task::runCapturingOutput(
        {.path = platform::SearchPath::find("ssh").value_or("ssh"), .arguments = exitMaster, .workingDirectory = {}});
    const int loginsBefore = server.acceptedLogins();
    const double cold = station.pass();
    std::printf("no-change pass without a shared connection: %.3f s, %d login(s)\n", cold,
                server.acceptedLogins() - loginsBefore);

    station.watcher->setupWatcher();
    while (!station.watcher->_CFRunLoopRef()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    station.waitIdle(); // switching on walks the whole folder once
    std::vector<double> latencies;
    for (int i = 0; i < events; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        station.waitIdle();
        const std::string name = "new" + std::to_string(i) + ".jpg";
        const auto start = Clock::now();
        std::ofstream(source / name, std::ios::binary) << std::string(20 * 1024, 'n');
        if (!waitFor(ours / "Main" / name)) return std::printf("%s was not archived within 120 s\n", name.c_str()), 1;
        latencies.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    station.watcher->unloadWatcher();
    station.waitIdle();
    std::sort(latencies.begin(), latencies.end());
    std::printf("event-to-archived latency, %d events into %d archived files: p50 %.3f s, p90 %.3f s, max %.3f s\n",
                events, noChange, latencies[latencies.size() / 2], latencies[latencies.size() * 9 / 10],
                latencies.back());
    // TOLV_BENCH_KEEP: the log (log.txt) and trees stay for a look at where the time went.
    std::error_code ec;
    if (!std::getenv("TOLV_BENCH_KEEP")) fs::remove_all(root, ec);
    else std::printf("kept in %s\n", root.c_str());
    return 0;
}
