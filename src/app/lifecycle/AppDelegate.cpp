#include "app/lifecycle/AppDelegate.h"
#include "core/DestinationProblem.h"

#include "app/lifecycle/Relaunch.h"

#include "dialogs/ModalUI.h"
#include "folders/SelectFolderNSViewController.h"
#include "core/PreferencesHealth.h"
#include "core/RemoteArchive.h"
#include "core/Settings.h"
#include "core/validateFolderPrefWithParam.h"
#include "log/OVLogFileManager.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/DateFormat.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"
#include "platform/preferences/UserDefaults.h"
#include "core/TolvExtras.h"
#include "pass/DestinationCheck.h"
#include "station/ArchiveReading.h"
#include "station/Station.h"
#include "watch/WatcherNSObject.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QThread>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using platform::log;
using platform::logf;
using platform::NotificationCenter;
using platform::UserDefaults;

namespace {

const std::string kLaunchAgentArgument = "-fromlaunchagent";
const std::string kInstalledAgentFile = "/Applications/Tolv-Archiver.app/Contents/Resources/com.orvane.tolv-archiver.agent.plist";
const std::string kDestinationEnableKey = "prefDestinationFolderPathEnableFormat1";
const std::string kSeparator(59, '-');
constexpr std::int64_t kSecondsPerDay = 86400;
// Keeps the cut-off date of old logs within what a clock can hold.
constexpr std::int64_t kMostDaysToSaveLogs = 100000;

std::string describe(const std::vector<std::string>& list) {
    platform::Value::Array array(list.begin(), list.end());
    return platform::Value(array).description();
}

std::int64_t daysToSaveLogs() {
    const std::int64_t days = Settings::read().daysToSaveLogs;
    if (days < 0 || days > kMostDaysToSaveLogs) {
        std::int64_t kept = days < 0 ? 0 : kMostDaysToSaveLogs;
        logf("prefDaysToSaveLogs = %lld is out of range: %lld used", static_cast<long long>(days),
             static_cast<long long>(kept));
        return kept;
    }
    return days;
}

void deleteOldLogs() {
    log("Checking for Old Log Files to Delete...");
    auto cutOff = std::chrono::system_clock::now() - std::chrono::seconds(daysToSaveLogs() * kSecondsPerDay);
    OVLogFileManager::deleteOldLogsWithOptions({{"deleteSubDirectory", platform::Value(true)},
                                                {"deleteImmediately", platform::Value(true)},
                                                {"beforeDate", platform::Value(cutOff)}});
    log("Checking for Old Log Files to Delete...Done.");
}

void post(const std::string& name, platform::Object object = {}) {
    NotificationCenter::defaultCenter().post(name, std::move(object));
}

} // namespace

// ---- class set-up ---------------------------------------------------------------

void AppDelegate::initialize(bool logFile) {
    OVLogFileManager::getApplicationName();
    // Only the user's own choice counts: the factory defaults are not
    // registered yet, and must not switch the log file on by themselves.
    const bool doSaveLogs = UserDefaults::standard().userObjectForKey(kPrefDoSaveLogs).toBool();
    const char* will = doSaveLogs ? "WILL" : "Will NOT";
    logf("Inside AppDelegate => initialize...%s ReDirect NSLog to File...", will);
    logf("Inside AppDelegate => initialize...%s ReDirect NSLog to File...", will);
    if (doSaveLogs && logFile) OVLogFileManager::setupLogFile();
    setupFactoryDefaults();
    PreferencesHealth::noteAtStart();
    deleteOldLogs();
    updateLaunchAgentFileIfNeeded();
    DailySchedule::verifyInstalled();
}

std::optional<platform::Value::Dictionary> AppDelegate::setupFactoryDefaults() {
    auto path = platform::Bundle::main().pathForResource("FactoryDefault", "plist");
    logf("userDefaultsValuesPath = [%s]", path ? path->c_str() : "(null)");
    std::optional<platform::Value> dict;
    std::string error;
    if (path) dict = platform::Value::readPlistFile(*path, &error);
    if (!dict || !dict->dictionary()) {
        logf("userDefaultsValuesDict == NIL!!!!");
        return std::nullopt;
    }
    logf("About to register factory default dictionary:\n%s\n\n", dict->description().c_str());
    UserDefaults::standard().registerDefaults(*dict->dictionary());
    return *dict->dictionary();
}

void AppDelegate::updateLaunchAgentFileIfNeeded() { DailySchedule::refreshInstalledFile(); }

// ---- instance set-up ------------------------------------------------------------

std::shared_ptr<AppDelegate> AppDelegate::create() { return std::shared_ptr<AppDelegate>(new AppDelegate()); }

AppDelegate::AppDelegate() : schedule_([this] { setupManualTimer(); }), station_(std::make_shared<Station>()) {}

AppDelegate::~AppDelegate() {
    // The rows drive widgets and the station's reporter has timers, so they
    // must end on the GUI thread. The last owner of the delegate can be a
    // scan thread still posting while the application quits.
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        rows_.clear(); // before the slots they show
        return;
    }
    auto rows = std::make_shared<std::vector<std::unique_ptr<SelectFolderNSViewController>>>(std::move(rows_));
    if (app) {
        QMetaObject::invokeMethod(
            app, [rows, station = std::move(station_)] { rows->clear(); }, Qt::QueuedConnection);
        return;
    }
    // The process is ending; nothing left to draw on.
    for (auto& row : *rows) (void)row.release();
    (void)new std::shared_ptr<Station>(std::move(station_));
}

bool AppDelegate::isLaunchAgentRun(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), kLaunchAgentArgument) != arguments.end();
}

void AppDelegate::afterDelay(double seconds, void (AppDelegate::*fn)()) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform::performAfterDelay(seconds, [weak, fn] {
        if (auto self = weak.lock()) ((*self).*fn)();
    });
}

void AppDelegate::stopAllWatchersWithoutSender() {
    // The launch's stops keep watching off until it is switched on: once it
    // has been (a click, --start-all), they have nothing left to do.
    if (watchingSwitchedOn_) {
        log("Inside AppDelegate => watching was switched on during the launch: the launch's stop is dropped");
        return;
    }
    ibStopAllWatcher(nullptr);
}

std::optional<DestinationState> AppDelegate::destinationState() const { return station_->destinationState(); }

void AppDelegate::scanWithoutSender() { ibScanAgain(); }

void AppDelegate::awakeFromNib() {
    afterDelay(0.2, &AppDelegate::stopAllWatchersWithoutSender);
    const std::string version = OVLogFileManager::getCopyrightInfo();
    UserDefaults::standard().setObject(kPrefVersionDisplayString, "Vers: " + version);
    convertToNextLaunchCtlDate();
}

// ---- will-finish phase ----------------------------------------------------------

void AppDelegate::applicationWillFinishLaunching() {
    clearRunningTasksFlags();
    if (!UserDefaults::standard().boolForKey(kPrefDidSetSchedule)) removeScheduleKeys();
    logLaunchDiagnostics();
    logf("Checking for args = %s", describe(arguments_).c_str());
    if (isLaunchAgentRun(arguments_)) kickStartScanning();
    else setupManualTimer();
}

void AppDelegate::removeScheduleKeys() {
    UserDefaults::standard().removeObjectForKey(sPrefNextScheduledTime);
    UserDefaults::standard().removeObjectForKey(sPrefNextScheduledTimeDisplayString);
    UserDefaults::standard().removeObjectForKey(sPrefDailyScheduledTime);
}

void AppDelegate::logLaunchDiagnostics() const {
    std::string processName = arguments_.empty() ? std::string(TOLV_APP_NAME)
                                                 : std::filesystem::path(arguments_.front()).filename().string();
    log(kSeparator);
    logf("processName = %s", processName.c_str());
    logf("arguments = %s", describe(arguments_).c_str());
    logf("globallyUniqueString = %s", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toUtf8().constData());
    logf("hostName = %s", QSysInfo::machineHostName().toUtf8().constData());
    log(kSeparator);
}

// ---- did-finish phase -----------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching() {
    validateDestination();
    const std::vector<ParamDictionary> sources = sourceSlotParameters();
    for (const ParamDictionary& params : sources)
        validateFolderPrefWithParam(CommonHeader::folderReferenceParameters(params));
    station_->open(sources);
    // Rows only where there is a window to show them in.
    if (window_) {
        createDestinationRow();
        for (int slot = 1; slot < CommonHeader::kSlotCount; ++slot) createSourceRow(slot, sources[slot - 1]);
    }
    if (!UserDefaults::standard().boolForKey(kPrefDidSetSchedule)) unloadLaunchAgentPlist();
    afterDelay(0.1, &AppDelegate::stopAllWatchersWithoutSender);
}

void AppDelegate::validateDestination() {
    const ParamDictionary params = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    UserDefaults::standard().setObject(CommonHeader::param(params, sPrefCameraFolderPathEnableTitleStringKey),
                                       CommonHeader::slotTitle(CommonHeader::kDestinationSlot));
    const ParamDictionary reference = CommonHeader::folderReferenceParameters(params);
    std::thread([self = shared_from_this(), reference] { self->doValidateDestinationPathInThread(reference); })
        .detach();
}

void AppDelegate::createDestinationRow() {
    const ParamDictionary params = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    SelectFolderNSViewController* row = createRow(CommonHeader::kDestinationSlot, params);
    placeRowView(row->view(), CommonHeader::kDestinationSlot);
    row->setupViewForIndex(CommonHeader::kDestinationSlot);
    // The destination cannot be switched off.
    if (auto* enable = qobject_cast<QAbstractButton*>(row->getNSObjectForKey(sPrefCameraFolderPathEnableKey)))
        enable->setEnabled(false);
}

std::vector<ParamDictionary> AppDelegate::sourceSlotParameters() {
    std::vector<ParamDictionary> sources;
    for (int slot = 1; slot < CommonHeader::kSlotCount; ++slot) {
        ParamDictionary params = CommonHeader::slotParameters(slot);
        UserDefaults::standard().setObject(CommonHeader::param(params, sPrefCameraFolderPathEnableTitleStringKey),
                                           CommonHeader::slotTitle(slot));
        logf("backupFolderPref%i = %s", slot, CommonHeader::describe(params).c_str());
        sources.push_back(std::move(params));
    }
    return sources;
}

void AppDelegate::createSourceRow(int slot, const ParamDictionary& params) {
    SelectFolderNSViewController* row = createRow(slot, params);
    placeRowView(row->view(), slot);
    row->setupViewForIndex(static_cast<std::int16_t>(slot));
}

SelectFolderNSViewController* AppDelegate::createRow(int slot, const ParamDictionary& params) {
    auto row = std::make_unique<SelectFolderNSViewController>();
    row->set_viewIndex(static_cast<std::int16_t>(slot));
    row->set_Param(params);
    row->setSlotWatch(station_->slot(slot)); // the row shows the station's slot
    rows_.push_back(std::move(row));
    return rows_.back().get();
}

void AppDelegate::placeRowView(QWidget* view, int slot) {
    if (!view) {
        logf("Inside AppDelegate => placeRowView...row %d has no view", slot);
        return;
    }
    if (!rowPlacer_ && topHalfView_ && topHalfView_->parentWidget()) rowPlacer_ = new RowPlacer(destView_, topHalfView_);
    if (!rowPlacer_) {
        logf("Inside AppDelegate => placeRowView...no _topHalfView: row %d is not shown", slot);
        return;
    }
    rowPlacer_->place(view, slot);
}

void AppDelegate::doValidateDestinationPathInThread(const ParamDictionary& folderReference) {
    logf("Inside AppDelegate => doValidateDestinationPathInThread...param = %s",
         CommonHeader::describe(folderReference).c_str());
    // Its looks go first to a child and then to the destination's lane: a
    // share hung at launch holds no thread of ours, and so no quit.
    if (!DestinationCheck::withinOnceAnswering([folderReference] { validateFolderPrefWithParam(folderReference); }))
        log("Inside AppDelegate => doValidateDestinationPathInThread...the destination does not answer: not validated");
}

// ---- commands ---------------------------------------------------------------------

void AppDelegate::kickStartScanning() {
    const auto now = std::chrono::system_clock::now();
    UserDefaults::standard().setObject(kPreflastLaunchctlDate, platform::DateFormat::describe(now));
    UserDefaults::standard().setObject(kPrefLastScheduledStart, platform::Value(now));
    log("args contains -fromlaunchagent...");
    logf("Will auto start backup at time: %s", platform::DateFormat::describe(now + std::chrono::seconds(2)).c_str());
    afterDelay(2.0, &AppDelegate::scanWithoutSender);
    afterDelay(10.0, &AppDelegate::convertToNextLaunchCtlDate);
}

void AppDelegate::setupManualTimer() { log("Inside AppDelegate => setupManualTimer... DOES NOTHING...."); }

void AppDelegate::ibScanAgain() {
    log("Inside AppDelegate => ibScanAgain...");
    std::thread([self = shared_from_this()] { self->doScanAgainInThread(); }).detach();
}

void AppDelegate::doScanAgainInThread() {
    log("Inside AppDelegate => doScanAgainInThread...");
    // Asked for by the user: a server in its back-off is tried now.
    RemoteArchive::resetBackOff();
    post(kDestinationRetry, shared_from_this());
    // Looked at as a pass looks (a moved folder is found again), and only so
    // long: a share that does not answer is as good as missing.
    const std::string problem = DestinationCheck::locate().problem;
    if (const auto kind = DestinationProblem::of(problem);
        kind == DestinationProblem::Kind::Missing || kind == DestinationProblem::Kind::NotResponding) {
        logf("Inside AppDelegate => doScanAgainInThread...%s: nothing will be archived", problem.c_str());
        systemBeep();
    }
    // Scanned all the same: each folder's pass finds the destination is not
    // the archive, copies nothing and says so, and is run again once it is back.
    post(kWatcherItemChanged, shared_from_this());
}

void AppDelegate::ibStopAllWatcher(StateButton* sender) {
    const int state = sender ? sender->state() : StateButton::kOffState;
    logf("Inside AppDelegate => ibStopAllWatcher...sender = %s, state = %d", sender ? "toggle button" : "(null)",
         state);
    if (!sender) {
        post(kWatcherDoStopAll);
        return;
    }
    switch (state) {
    case StateButton::kOnState:
        log("Inside AppDelegate => ibStopAllWatcher...state is ON: stopping all watchers");
        sender->setText("Turn On");
        post(kWatcherDoStopAll);
        break;
    case StateButton::kOffState:
        log("Inside AppDelegate => ibStopAllWatcher...state is OFF: starting all watchers");
        watchingSwitchedOn_ = true;
        sender->setText("Turn Off");
        post(kWatcherDoStartAll);
        break;
    default:
        logf("Inside AppDelegate => ibStopAllWatcher...state = %d is mixed: nothing done", state);
        break;
    }
}

void AppDelegate::switchAllWatching(bool on) {
    logf("Inside AppDelegate => switchAllWatching...%s", on ? "on" : "off");
    if (on) watchingSwitchedOn_ = true;
    post(on ? kWatcherDoStartAll : kWatcherDoStopAll);
}

void AppDelegate::pollAllPaths() {
    log("Inside AppDelegate => pollAllPaths...");
    if (isPolling_.exchange(true)) {
        log("Inside AppDelegate => pollAllPaths...Another Polling still in progress...");
        return;
    }
    // Off the GUI thread, as a scan: a pass looks at folders that may not answer at once.
    std::thread([self = shared_from_this()] {
        post(kWatcherSetParams, self);
        post(kWatcherDoPollFolder);
    }).detach();
}

void AppDelegate::deleteAllOldPhotos() {
    log("Inside AppDelegate => deleteAllOldPhotos...");
    if (UserDefaults::standard().boolForKey(kDestinationEnableKey)) return;
    ModalUI::Alert alert;
    alert.message = "ALWAYS Delete OLD PHotos withOUT Archiving.";
    alert.informativeText = "This will delete all your old folders in the selected source folders:\n\n";
    alert.defaultButton = "OK";
    alert.window = window_;
    ModalUI::current().runAlert(alert);
}

void AppDelegate::checkArchive() {
    ArchiveReading* reading = station().archiveReading();
    const std::string refused = reading ? reading->readEverything() : std::string("nothing is open yet");
    if (refused.empty()) {
        platform::logf("every copy in the archive is read again");
        return;
    }
    platform::logf("the archive cannot be checked now: %s", refused.c_str());
    ModalUI::Alert alert;
    alert.message = "The archive cannot be checked now.";
    alert.informativeText = refused;
    alert.defaultButton = "OK";
    alert.window = window_;
    ModalUI::current().runAlert(alert);
}

void AppDelegate::clearRunningTasksFlags() {
    for (std::int16_t index = 0; index < CommonHeader::kSlotCount; ++index)
        UserDefaults::standard().removeObjectForKey(WatcherNSObject::getPrefNameForInProgress(index));
    UserDefaults::standard().synchronize();
}

bool AppDelegate::hasRunningTasks() {
    for (std::int16_t index = 0; index < CommonHeader::kSlotCount; ++index) {
        const std::string key = WatcherNSObject::getPrefNameForInProgress(index);
        if (key.empty()) continue;
        const bool busy = UserDefaults::standard().boolForKey(key);
        logf("key %s: %s", key.c_str(), busy ? "Busy" : "FREE");
        if (busy) return true;
    }
    return false;
}

// ---- the daily schedule ----------------------------------------------------------

void AppDelegate::changeScheduledTime() {
    const platform::Value scheduled = UserDefaults::standard().objectForKey(sPrefDailyScheduledTime);
    if (scheduled.type() != platform::Value::Type::None) {
        UserDefaults::standard().setObject(kPrefTempTime, scheduled);
    } else if (UserDefaults::standard().objectForKey(kPrefTempTime).type() == platform::Value::Type::None) {
        // The sheet's control shows a time; confirming it untouched must
        // schedule that time, not nothing.
        UserDefaults::standard().setObject(kPrefTempTime, platform::Value(std::chrono::system_clock::now()));
    }
    beginSheet(setTimeWindow_, "set-time sheet", &AppDelegate::didEndSheet);
}

void AppDelegate::ibRemoveScheduleTime() { beginSheet(disableTimeWindow_, "remove-schedule sheet", &AppDelegate::didEndSheet2); }

void AppDelegate::beginSheet(QWidget* sheet, const std::string& name, void (AppDelegate::*didEnd)(QWidget*, int)) {
    if (!sheet) {
        logf("Inside AppDelegate => beginSheet...the %s is missing: nothing shown", name.c_str());
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    ModalUI::current().beginSheet({sheet, window_, name}, [weak, sheet = QPointer<QWidget>(sheet), didEnd](int code) {
        if (auto self = weak.lock()) ((*self).*didEnd)(sheet, code);
    });
}

void AppDelegate::closeMyCustomSheet(QObject* sender) {
    auto* button = qobject_cast<QAbstractButton*>(sender);
    if (!button || !button->window()) return;
    ModalUI::current().endSheet(button->window(), button->property("tag").toInt());
}

void AppDelegate::didEndSheet(QWidget* sheet, int returnCode) {
    if (sheet) sheet->hide();
    if (returnCode != ModalUI::kSheetConfirm) return;
    schedule_.confirmTime();
}

void AppDelegate::didEndSheet2(QWidget* sheet, int returnCode) {
    if (sheet) sheet->hide();
    if (returnCode != ModalUI::kSheetConfirm) return;
    schedule_.removeSchedule();
}

bool AppDelegate::setLaunchAgentPlist(const std::optional<platform::Value>& time) { return schedule_.install(time); }

void AppDelegate::unloadLaunchAgentPlist() { schedule_.unload(); }

void AppDelegate::convertToNextLaunchCtlDate() { schedule_.computeNextRun(std::chrono::system_clock::now()); }

const std::string AppDelegate::kAgentFile = "Contents/Resources/com.orvane.tolv-archiver.agent.plist";

// ---- ending, and the desktop's requests -------------------------------------------

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate(std::optional<int> presetAnswer) {
    if (!hasRunningTasks()) return TerminateReply::Now;
    ModalUI::Alert alert;
    alert.message = "WARNING: APP is Busy Archiving !!!!";
    alert.defaultButton = "NO";
    alert.alternateButton = "Force Terminate";
    alert.informativeText = "There are one or more folders still being Archived.\nYou May Not have Fully Completed the "
                            "Backup.\n\nAre You Sure You Want to Abort All Process Now??\n\n";
    alert.window = window_;
    int response = ModalUI::kDefaultReturn;
    if (presetAnswer) {
        response = *presetAnswer;
        logf("Inside AppDelegate => applicationShouldTerminate...busy alert answered %d by the request", response);
    } else {
        response = ModalUI::current().runAlert(alert);
    }
    if (response == ModalUI::kAlternateReturn) return TerminateReply::Now;
    logf("NSAlertDefaultReturn resp = %li", static_cast<long>(response));
    return TerminateReply::Cancel;
}

bool AppDelegate::terminate(QObject* sender, std::optional<int> presetAnswer) {
    logf("Inside AppDelegate => terminate...sender = %p", static_cast<void*>(sender));
    if (applicationShouldTerminate(presetAnswer) == TerminateReply::Cancel) return false;
    applicationWillTerminate();
    if (terminator_) terminator_();
    return true;
}

bool AppDelegate::windowShouldClose(QWidget*) {
    if (!hasRunningTasks()) return true;
    // A busy application keeps its window unless the user forces the quit.
    if (applicationShouldTerminateAfterLastWindowClosed(QCoreApplication::instance())) terminate(nullptr);
    return false;
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(const QObject* application) const {
    return application && application == QCoreApplication::instance();
}

void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    logf("Inside AppDelegate => applicationShouldHandleReopen...hasVisibleWindows = %s", hasVisibleWindows ? "YES" : "NO");
    logLaunchDiagnostics();
    return true;
}

void AppDelegate::applicationWillBecomeActive() { log("Inside AppDelegate => applicationWillBecomeActive..."); }

void AppDelegate::openFiles(const std::vector<std::string>& filenames) {
    logf("Inside AppDelegate => application:openFiles:...filenames = %s", describe(filenames).c_str());
    for (const std::string& agentFile : {kAgentFile, kInstalledAgentFile}) {
        if (std::find(filenames.begin(), filenames.end(), agentFile) == filenames.end()) continue;
        logf("Inside AppDelegate => application:openFiles:...found %s", agentFile.c_str());
        kickStartScanning();
        return;
    }
}

void AppDelegate::handleURLEvent(const std::string& url) {
    logf("got apple event \"%s\" of type with %ld items and with data %s", url.c_str(), 1L, url.c_str());
    log("Inside AppDelegate => handleAppleEvent...nothing more is done with it");
}

bool AppDelegate::shouldPresentUserNotification(const std::string&) { return true; }

void AppDelegate::didActivateUserNotification(const std::string& notification, const std::string& response) {
    logf("got here...didActivateNotification = %s", notification.c_str());
    logf("got here...didActivateNotification with reply= %s", response.c_str());
}

void AppDelegate::didDeliverUserNotification(const std::string&) { log("got here...didDeliverNotification"); }

void AppDelegate::ibRelaunchApp(QObject* sender) {
    logf("Inside AppDelegate => ibRelaunchApp...param = [%s]", sender ? "button" : "(null)");
    Relaunch::Parameter parameter;
    if (auto* button = qobject_cast<QAbstractButton*>(sender)) parameter = button;
    Relaunch::relaunch(parameter, [this](QObject* quitSender) { terminate(quitSender); });
}
