// Desktop notifications travel over a private session bus of a real
// dbus-daemon to a stand-in for the desktop's notification daemon, which
// records what it was asked to show.

#include "platform/qt/DesktopNotification.h"
#include "platform/runtime/SearchPath.h"
#include "support/AppProcess.h"
#include "support/QtTestApp.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::AppProcess;
using testing_support::readFile;

namespace {

// Non-ASCII and blanks, as in the folder names of a photo station.
const std::string kTitle = "Arkivering feilet: «Føto»";
const std::string kBody = "Kopien av /srv/foto/IMG 0001.jpg mangler på målet";

enum class Service { None, Running, StartedByBus, NeverAnswers };

struct Case {
    const char* name;
    bool bus;
    Service service;
    bool sent;
    std::chrono::milliseconds within; // the longest send() may take
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

struct SendOutcome {
    bool sent = false;
    std::chrono::milliseconds took{};
};

std::string readToEnd(int fd) {
    std::string text;
    char buffer[64];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
}

// Qt and libdbus keep the first session bus a process finds for the rest of
// its life, so every send runs in a fresh child of this single-threaded test
// process, with the address set before its application object exists.
std::optional<SendOutcome> sendFromFreshProcess(const std::string& busAddress) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
        testing_support::qtTestApp();
        const auto start = std::chrono::steady_clock::now();
        const bool sent = platform::DesktopNotification::send(kTitle, kBody);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        dprintf(fds[1], "%d %lld", sent ? 1 : 0, static_cast<long long>(took.count()));
        _exit(0);
    }
    close(fds[1]);
    // send() bounds its own wait, so the report comes; CTest's timeout
    // catches a send that hangs.
    const std::string report = child > 0 ? readToEnd(fds[0]) : std::string();
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    SendOutcome outcome;
    long long ms = 0;
    std::istringstream fields(report);
    if (!(fields >> outcome.sent >> ms)) return std::nullopt;
    outcome.took = std::chrono::milliseconds(ms);
    return outcome;
}

bool waitForContents(const fs::path& file, const std::string& expected) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (readFile(file) != expected) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class DesktopNotificationTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tolv-notify-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        fs::create_directory(serviceFolder());
    }

    void TearDown() override {
        service_.reset();
        bus_.reset(); // a service the bus started ends with it
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    std::string address() const { return "unix:path=" + (folder_ / "bus").string(); }
    fs::path record() const { return folder_ / "received"; }
    fs::path serviceFolder() const { return folder_ / "services"; }

    // Only the folder of this test offers services to start, so nothing the
    // machine has installed answers in place of the stand-in.
    void startBus(const std::string& daemon) {
        const fs::path config = folder_ / "bus.conf";
        std::ofstream(config) << "<busconfig><type>session</type>"
                              << "<listen>" << address() << "</listen><auth>EXTERNAL</auth>"
                              << "<servicedir>" << serviceFolder().string() << "</servicedir>"
                              << "<policy context=\"default\"><allow send_destination=\"*\"/>"
                              << "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        // Services the bus starts inherit its environment, and with it the address.
        bus_ = std::make_unique<AppProcess>(
            AppProcess::Options{daemon,
                                {"--config-file=" + config.string(), "--nofork", "--print-address=1"},
                                {{"DBUS_SESSION_BUS_ADDRESS", address()}}});
        ASSERT_TRUE(bus_->waitForOutput("unix:path=", 10s)) << bus_->output();
    }

    void offerServiceOnDemand() const {
        std::ofstream(serviceFolder() / "org.freedesktop.Notifications.service")
            << "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec="
            << testing_support::testProgram("FakeNotificationService").string() << " " << record().string() << "\n";
    }

    void startService(bool answers, bool actions = false) {
        std::vector<std::string> arguments{record().string()};
        if (!answers) arguments.push_back("--never-answer");
        if (actions) arguments.push_back("--actions");
        service_ =
            std::make_unique<AppProcess>(AppProcess::Options{testing_support::testProgram("FakeNotificationService"),
                                                             arguments,
                                                             {{"DBUS_SESSION_BUS_ADDRESS", address()}}});
        ASSERT_TRUE(service_->waitForOutput("ready", 10s)) << service_->output();
    }

    fs::path folder_;
    std::unique_ptr<AppProcess> bus_;
    std::unique_ptr<AppProcess> service_;
};

class DesktopNotificationActionTest : public DesktopNotificationTest {};

TEST_P(DesktopNotificationTest, ShowsOnlyWhereAServiceTakesIt) {
    const Case& c = GetParam();
    if (c.bus) {
        const auto daemon = platform::SearchPath::find("dbus-daemon");
        if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
        if (c.service == Service::StartedByBus) offerServiceOnDemand();
        ASSERT_NO_FATAL_FAILURE(startBus(*daemon));
    }
    if (c.service == Service::Running || c.service == Service::NeverAnswers) {
        ASSERT_NO_FATAL_FAILURE(startService(c.service == Service::Running));
    }

    // Without a bus the address names a socket nobody listens on.
    const auto outcome = sendFromFreshProcess(address());
    ASSERT_TRUE(outcome) << "the sending child did not report";
    EXPECT_EQ(outcome->sent, c.sent);
    EXPECT_LT(outcome->took, c.within);
    if (c.sent) {
        // Critical, with the installed desktop entry and icon named.
        const std::string shown =
            std::string(TOLV_APP_NAME) + "\t" + kTitle + "\t" + kBody + "\t2\ttolv-archiver\ttolv-archiver\t0\n";
        EXPECT_TRUE(waitForContents(record(), shown)) << readFile(record());
    }
}

// A service with buttons shows them, and the one the user picks runs in the
// sender (on its event loop).
TEST_F(DesktopNotificationActionTest, ThePickedActionRuns) {
    const auto daemon = platform::SearchPath::find("dbus-daemon");
    if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_NO_FATAL_FAILURE(startBus(*daemon));
    ASSERT_NO_FATAL_FAILURE(startService(true, true));
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        setenv("DBUS_SESSION_BUS_ADDRESS", address().c_str(), 1);
        testing_support::qtTestApp();
        std::string picked = "none";
        const bool sent = platform::DesktopNotification::send(
            kTitle, kBody,
            {{"open", "Open", [&] { picked = "open"; }}, {"log", "Show log", [&] { picked = "log"; }}});
        for (int i = 0; i < 100 && picked == "none"; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        dprintf(fds[1], "%d %s", sent ? 1 : 0, picked.c_str());
        _exit(0);
    }
    close(fds[1]);
    const std::string report = readToEnd(fds[0]);
    close(fds[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(report, "1 open");
}

// One notification per subject: a newer one takes the place of the one shown,
// and it is taken off the desktop once its problem is gone.
TEST_F(DesktopNotificationTest, ANotificationIsReplacedAndWithdrawn) {
    const auto daemon = platform::SearchPath::find("dbus-daemon");
    if (!daemon) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_NO_FATAL_FAILURE(startBus(*daemon));
    ASSERT_NO_FATAL_FAILURE(startService(true));
    const pid_t child = fork();
    if (child == 0) {
        setenv("DBUS_SESSION_BUS_ADDRESS", address().c_str(), 1);
        testing_support::qtTestApp();
        using N = platform::DesktopNotification;
        const auto first = N::show({"Backup", "destination not mounted", {}});
        const auto second = N::show({"Backup", "destination missing", {}, first.value_or(0)});
        if (second) N::withdraw(*second);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        _exit(first == std::optional<std::uint32_t>(1) && second == first ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string prefix = std::string(TOLV_APP_NAME) + "\tBackup\t";
    EXPECT_TRUE(waitForContents(record(), prefix + "destination not mounted\t2\ttolv-archiver\ttolv-archiver\t0\n" +
                                              prefix + "destination missing\t2\ttolv-archiver\ttolv-archiver\t1\n" +
                                              "closed\t1\n"))
        << readFile(record());
}

// The limits only tell a bounded wait from D-Bus's own 25 s one, with room
// for a loaded machine: they are no measure of speed.
INSTANTIATE_TEST_SUITE_P(Buses, DesktopNotificationTest,
                         ::testing::Values(Case{"ServiceRunning", true, Service::Running, true, 8000ms},
                                           Case{"ServiceStartedByTheBus", true, Service::StartedByBus, true, 8000ms},
                                           Case{"NoServiceOnTheBus", true, Service::None, false, 8000ms},
                                           Case{"NoBus", false, Service::None, false, 8000ms},
                                           // A hung daemon must not freeze the window for long.
                                           Case{"ServiceNeverAnswers", true, Service::NeverAnswers, false, 8000ms}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace
