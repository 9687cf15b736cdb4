#include "app/ApplicationMain.h"
#include "core/Settings.h"

#include "app/lifecycle/AppDelegate.h"
#include "app/instance/CommandLine.h"
#include "app/instance/InstanceBridge.h"
#include "app/instance/InstanceRequests.h"
#include "app/instance/SetupCommand.h"
#include "app/schedule/LoginStart.h"
#include "app/schedule/ScheduleCommand.h"
#include "app/window/MainWindow.h"
#include "app/widgets/QtModalUI.h"
#include "app/status/DestinationReport.h"
#include "pass/ArchiveCheck.h"
#include "station/Station.h"
#include "app/status/StatusReport.h"
#include "dialogs/HeadlessModalUI.h"
#include "log/OVLogFileManager.h"
#include "log/TraceOutput.h"
#include "platform/desktop/Bundle.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Task.h"
#include "platform/qt/QtMainLoop.h"
#include "platform/qt/QtTerminationSignals.h"
#include "core/TolvExtras.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using platform::log;
using platform::logf;

namespace {

const std::string kHeadlessArgument = "--headless";
// Lets the rows settle into their places before the picture is taken.
constexpr int kGrabDelayMs = 500;
// A command of a start that launched the application waits for the stop
// requests that launch queues (0.1 s and 0.2 s after it).
constexpr int kCommandDelayMs = 1000;
const std::string kInstanceName = "tolv-archiver";

bool isSet(const char* value) { return value && *value; }

// The decision to end is made (the guard, a signal): quit() would first ask
// the windows to close, and a busy window answers with the busy alert again.
void leaveEventLoop() { QCoreApplication::exit(0); }

void connectPlatform(bool headless) {
    platform::QtMainLoop::install();
    if (headless) ModalUI::setCurrent(std::make_shared<HeadlessModalUI>());
    else ModalUI::setCurrent(std::make_shared<QtModalUI>());
    setSystemBeepHook([] { ModalUI::current().beep(); });
    platform::QtTerminationSignals::install([](int signalNumber) {
        logf("Signal %d received: quitting", signalNumber);
        leaveEventLoop();
    });
}

void grabWhenShown(MainWindow& window, const std::string& file) {
    // TOLV_GRAB_DELAY_MS: later, for a picture of work under way (docs/).
    const char* delay = std::getenv("TOLV_GRAB_DELAY_MS");
    const int delayMs = delay && std::atoi(delay) > 0 ? std::atoi(delay) : kGrabDelayMs;
    QObject::connect(&window, &MainWindow::firstShown, &window, [&window, file, delayMs] {
        QTimer::singleShot(delayMs, &window, [&window, file] {
            const bool saved = window.grab().save(QString::fromStdString(file), "PNG");
            logf("Window picture %s: %s", saved ? "saved" : "NOT saved", file.c_str());
        });
    });
}

std::string programName(const std::vector<std::string>& arguments) {
    return arguments.empty() ? TOLV_APP_NAME : std::filesystem::path(arguments[0]).filename().string();
}

std::string versionLine() {
    const auto& bundle = platform::Bundle::main();
    std::string version = bundle.infoString("CFBundleShortVersionString");
    const std::string build = bundle.infoString("CFBundleVersion");
    if (version.empty()) version = "(unknown version)";
    return std::string(TOLV_APP_NAME) + " " + version + (build.empty() ? "" : " (" + build + ")") + "\n";
}

int print(const std::string& text, int status) {
    std::fputs(text.c_str(), status == 0 ? stdout : stderr);
    return status;
}

// Reads the archive from this process: a check needs no running
// application and changes nothing, not even a damaged preference file.
int verifyArchive(int slot) {
    platform::UserDefaults::setStandardReadOnly(true);
    const auto folders = ArchiveCheck::run(slot == 0 ? std::nullopt : std::optional(slot));
    if (folders.empty()) return print("no source folder is chosen: nothing to check\n", 1);
    int status = 0;
    for (const auto& folder : folders) {
        // A folder that could not be read is a failure; damage is the answer.
        std::fputs(folder.text().c_str(), folder.error.empty() ? stdout : stderr);
        if (!folder.sound()) status = 1;
    }
    return status;
}

// Help, version and a refused line need no application at all.
std::optional<int> answerWithoutApplication(const CommandLine& line, const std::vector<std::string>& arguments) {
    const std::string name = programName(arguments);
    if (line.error) return print(name + ": " + *line.error + "\nTry '" + name + " --help'.\n", 2);
    if (line.action == CommandLine::Action::Help)
        return print(CommandLine::helpText(name, platform::UserDefaults::standardFilePath().string(),
                                           OVLogFileManager::logFolder().string()),
                     0);
    if (line.action == CommandLine::Action::Version) return print(versionLine(), 0);
    if (line.action == CommandLine::Action::CheckDestination) {
        platform::UserDefaults::setStandardReadOnly(true);
        const auto report = DestinationReport::check();
        // A running application looks again too, so the window never says
        // other than this report does.
        platform::SingleInstance::send(kInstanceName, {"--check-destination"}, std::chrono::seconds(5));
        return print(report.text, report.ok ? 0 : 1);
    }
    if (line.action == CommandLine::Action::Verify) return verifyArchive(line.slot);
    if (line.action == CommandLine::Action::Autostart) {
        std::string error;
        if (!LoginStart::set(line.autostart, &error)) return print(name + ": " + error + "\n", 1);
        return print(line.autostart ? "watching starts at login\n" : "no start at login\n", 0);
    }
    return std::nullopt;
}

std::chrono::milliseconds patienceFor(const CommandLine& line) {
    // --quit may wait for a person to answer the busy alert; the schedule
    // commands wait for the user's scheduler.
    if (line.action == CommandLine::Action::Quit) return std::chrono::minutes(5);
    return line.actsAloneWhenNoneRuns() ? std::chrono::minutes(1) : std::chrono::seconds(10);
}

int printReply(const platform::SingleInstance::Reply& reply) {
    std::fputs(reply.text.c_str(), reply.status == 0 ? stdout : stderr);
    return reply.status;
}

// --status, --quit and --relaunch never start the application.
std::optional<int> answerWhenNoneRuns(const CommandLine& line, const std::vector<std::string>& request) {
    using Action = CommandLine::Action;
    if (line.action != Action::Status && line.action != Action::Quit && line.action != Action::Relaunch)
        return std::nullopt;
    if (auto reply = platform::SingleInstance::send(kInstanceName, request, patienceFor(line))) {
        // A status is a report whatever its exit status says: scripts read it from standard output.
        if (line.action != Action::Status) return printReply(*reply);
        std::fputs(reply->text.c_str(), stdout);
        return reply->status;
    }
    if (line.action != Action::Status) return print(std::string(TOLV_APP_NAME) + " is not running\n", 0);
    // A look changes nothing: not even a damaged preference file is moved aside.
    platform::UserDefaults::setStandardReadOnly(true);
    const StatusReport report = StatusReport::fromPreferences(false);
    std::fputs((line.json ? report.json() : report.text()).c_str(), stdout);
    return report.exitStatus();
}

// What a start that launched the application asked for besides the launch.
void actOnOwnRequest(const CommandLine& line, InstanceRequests& requests, AppDelegate& delegate) {
    if (line.isCommand()) {
        QTimer::singleShot(kCommandDelayMs, [&requests, line] {
            logf("Command line: %s", requests.answer(line).text.c_str());
        });
    }
    for (const std::string& url : line.urls) delegate.handleURLEvent(url);
    if (!line.files.empty()) delegate.openFiles(line.files);
}

// A daily run that found no application running and no display has nobody
// to show a window to: once its scan is done (no pass running, twice in a
// row a second apart, so a follow-up pass is not cut off), it ends. Started
// with --headless, or with a display, the application stays, as it would
// have if started by hand. A folder left in error makes the run's exit
// status 1 (in *status), so the scheduler tells the user of a failed run.
void endWhenTheDailyRunIsDone(const std::shared_ptr<AppDelegate>& delegate, const std::shared_ptr<int>& status) {
    constexpr int kAfterScanMs = 12000; // the scan starts 2 s after launch, the next run is computed at 10 s
    constexpr int kCheckMs = 1000;
    auto* timer = new QTimer(QCoreApplication::instance());
    auto idleChecks = std::make_shared<int>(0);
    std::weak_ptr<AppDelegate> weak = delegate;
    QObject::connect(timer, &QTimer::timeout, timer, [weak, idleChecks, timer, status] {
        auto self = weak.lock();
        if (!self) return timer->stop();
        *idleChecks = self->hasRunningTasks() ? 0 : *idleChecks + 1;
        if (*idleChecks < 2) return;
        timer->stop();
        *status = StatusReport::ofRunningApplication(*self).exitStatus();
        if (*status != 0) log("ERROR: the daily run ended with a folder in error");
        log("The daily run has archived every folder and nothing needs a window: quitting");
        self->terminate(nullptr);
    });
    QTimer::singleShot(kAfterScanMs, timer, [timer] { timer->start(kCheckMs); });
}

// --schedule and --unschedule when no application runs: this start acts on
// the preferences and the scheduler itself, without a window or watchers,
// and ends. It holds the single-instance claim meanwhile, so a start in
// between waits for it instead of racing it.
int actAlone(const CommandLine& line) {
    ModalUI::setCurrent(std::make_shared<HeadlessModalUI>());
    AppDelegate::initialize(false);
    DailySchedule schedule([] { log("Inside AppDelegate => setupManualTimer... DOES NOTHING...."); });
    const auto reply = line.isSetupCommand()                       ? SetupCommand::run(line, false)
                       : line.action == CommandLine::Action::Schedule ? ScheduleCommand::schedule(schedule, line.scheduleTime)
                                                                      : ScheduleCommand::unschedule(schedule);
    Settings::save();
    return printReply(reply);
}

} // namespace

bool ApplicationMain::wantsHeadless(const std::vector<std::string>& arguments, const char* display,
                                    const char* waylandDisplay) {
    if (std::find(arguments.begin(), arguments.end(), kHeadlessArgument) != arguments.end()) return true;
    return !isSet(display) && !isSet(waylandDisplay);
}


int ApplicationMain::run(int argc, char** argv) {
    // Copied before Qt takes the options it knows out of argv.
    const std::vector<std::string> arguments(argv, argv + argc);
    const CommandLine line = CommandLine::parse(arguments);
    // A command prints its answer; only the application itself traces.
    TraceOutput::forCommand(line.verbose);
    if (auto status = answerWithoutApplication(line, arguments)) return *status;
    const std::vector<std::string> request(arguments.begin() + 1, arguments.end());
    if (auto status = answerWhenNoneRuns(line, request)) return *status;

    // Outlives the application object: requests queued to it refer to it.
    InstanceBridge bridge;
    auto claim = platform::SingleInstance::claim(kInstanceName, request, bridge.handler(), patienceFor(line));
    if (claim.otherInstance) {
        if (claim.reply) return printReply(*claim.reply);
        return print(std::string(TOLV_APP_NAME) + " is running but did not answer\n", 1);
    }
    const int result =
        line.actsAloneWhenNoneRuns() ? actAlone(line) : runApplication(argc, argv, arguments, line, bridge);
    bridge.detach();
    claim.primary.reset();
    // Nothing this application started may go on copying or deleting.
    platform::Task::terminateAll();
    return result;
}

namespace {

// Without a display the application is the station alone: no widget, no
// window, no platform plugin to load (any QT_QPA_PLATFORM will do).
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool headless) {
    if (headless) return std::make_unique<QCoreApplication>(argc, argv);
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationDisplayName(TOLV_APP_NAME);
    return app;
}

std::unique_ptr<MainWindow> makeWindow(const std::shared_ptr<AppDelegate>& delegate, const CommandLine& line,
                                       bool headless) {
    if (headless) {
        if (line.grabWindowFile) logf("No display: no window to take a picture of (%s)", line.grabWindowFile->c_str());
        return nullptr;
    }
    auto window = std::make_unique<MainWindow>(delegate);
    QObject::connect(window.get(), &MainWindow::firstShown, window.get(), [] { log("Main window shown"); });
    if (line.grabWindowFile) grabWhenShown(*window, *line.grabWindowFile);
    std::weak_ptr<AppDelegate> weak = delegate;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, window.get(), [weak](Qt::ApplicationState state) {
        if (auto d = weak.lock(); d && state == Qt::ApplicationActive) d->applicationWillBecomeActive();
    });
    return window;
}

} // namespace

int ApplicationMain::runApplication(int& argc, char** argv, const std::vector<std::string>& arguments,
                                    const CommandLine& line, InstanceBridge& bridge) {
    const bool headless = wantsHeadless(arguments, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    const auto app = makeApplication(argc, argv, headless);
    QCoreApplication::setApplicationName(TOLV_APP_NAME);
    connectPlatform(headless);

    TraceOutput::forApplication(line.verbose);
    AppDelegate::initialize();
    auto delegate = AppDelegate::create();
    delegate->setArguments(arguments);
    delegate->setTerminator(leaveEventLoop);
    int result = 0;
    auto dailyRunStatus = std::make_shared<int>(0);
    {
        const auto window = makeWindow(delegate, line, headless);
        delegate->awakeFromNib();
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
        if (window)
            window->show();
        else
            log("No display: running without a window");
        ProblemReporter& problems = delegate->station().problems();
        problems.setNotify(!headless);
        problems.review();
        InstanceRequests requests(delegate, window.get(), window ? window->toggleButton() : nullptr, headless);
        bridge.attach(&requests);
        actOnOwnRequest(line, requests, *delegate);
        const bool askedHeadless =
            std::find(arguments.begin(), arguments.end(), kHeadlessArgument) != arguments.end();
        if (headless && line.fromLaunchAgent && !askedHeadless) endWhenTheDailyRunIsDone(delegate, dailyRunStatus);
        result = QCoreApplication::exec();
        if (result == 0) result = *dailyRunStatus;
        bridge.detach();
        log("Event loop ended: quitting");
    }
    delegate.reset();
    platform::QtMainLoop::uninstall();
    return result;
}
