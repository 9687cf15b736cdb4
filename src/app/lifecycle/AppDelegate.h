#pragma once
// The application delegate: class set-up, the two launch phases that build
// the folder rows, and the commands that act on all watchers (scan, start
// and stop all, poll). Commands never call a watcher: they post
// notifications that the watchers answer.

#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "app/schedule/DailySchedule.h"
#include "app/widgets/RowPlacer.h"
#include "app/widgets/StateButton.h"
#include "platform/preferences/Value.h"

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SelectFolderNSViewController;
class Station;

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    // Class set-up, run once before the first instance exists: log file,
    // factory defaults, old logs, launch agent refresh.
    // A command acting alone (logFile false) leaves standard error where it
    // is: its answer must reach the terminal.
    static void initialize(bool logFile = true);
    // Registers the bundle's FactoryDefault.plist as the preference store's
    // defaults; returns the dictionary registered (nullopt when unreadable).
    static std::optional<platform::Value::Dictionary> setupFactoryDefaults();
    // Brings an installed launch agent file up to the current template.
    static void updateLaunchAgentFileIfNeeded();

    // The delegate is shared: notifications carry it as their object, and
    // work queued for later must not outlive it.
    static std::shared_ptr<AppDelegate> create();
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Outlets, connected by the main window.
    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) {
        window_ = window;
        schedule_.setWindow(window);
    }
    QWidget* _topHalfView() const { return topHalfView_; }
    void set_topHalfView(QWidget* view) { topHalfView_ = view; }
    QWidget* _destView() const { return destView_; }
    void set_destView(QWidget* view) { destView_ = view; }
    StateButton* ibToggleButton() const { return toggleButton_; }
    void setIbToggleButton(StateButton* button) { toggleButton_ = button; }
    bool _isPolling() const { return isPolling_; }
    // The two sheets of the daily schedule.
    QWidget* ibSetTimeWindow() const { return setTimeWindow_; }
    void setIbSetTimeWindow(QWidget* sheet) { setTimeWindow_ = sheet; }
    QWidget* ibDisableTimeWindow() const { return disableTimeWindow_; }
    void setIbDisableTimeWindow(QWidget* sheet) { disableTimeWindow_ = sheet; }

    // The process's argument list, as the launch phases read it.
    void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
    const std::vector<std::string>& arguments() const { return arguments_; }
    // The agent file whose open request starts the launch-agent scan, as a
    // later start names it.
    static const std::string kAgentFile;
    // The argument list names the launch-agent start as a whole element.
    static bool isLaunchAgentRun(const std::vector<std::string>& arguments);

    // Launch, in this order once the main window has connected the outlets.
    void awakeFromNib();
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void doValidateDestinationPathInThread(const ParamDictionary& folderReference);

    // Commands.
    void kickStartScanning();
    void setupManualTimer();
    void ibScanAgain();
    void doScanAgainInThread();
    void ibStopAllWatcher(StateButton* sender);
    // What the toggle button's click does, for a run without a window.
    void switchAllWatching(bool on);
    void pollAllPaths();
    void deleteAllOldPhotos();
    // "Check Archive…": reads every copy of every folder's archive against
    // its record, with the count on the rows; says why when it cannot begin.
    void checkArchive();
    void clearRunningTasksFlags();
    bool hasRunningTasks();

    // Ending, and answering the desktop's requests. The alert's return codes
    // are ModalUI's: "NO" is the default (1), "Force Terminate" the alternate (0).
    enum class TerminateReply { Cancel = 0, Now = 1 };
    // presetAnswer answers the busy alert without showing it (--quit --force).
    TerminateReply applicationShouldTerminate(std::optional<int> presetAnswer = std::nullopt);
    bool windowShouldClose(QWidget* window);
    bool applicationShouldTerminateAfterLastWindowClosed(const QObject* application) const;
    void applicationWillTerminate();
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationWillBecomeActive();
    void openFiles(const std::vector<std::string>& filenames);
    void handleURLEvent(const std::string& url);
    bool shouldPresentUserNotification(const std::string& notification);
    void didActivateUserNotification(const std::string& notification, const std::string& response);
    void didDeliverUserNotification(const std::string& notification);
    void ibRelaunchApp(QObject* sender);
    // The application's quit request: the guard decides; true when it ends.
    bool terminate(QObject* sender, std::optional<int> presetAnswer = std::nullopt);
    // What ending the application does (the application sets it: stop the
    // children, leave the event loop); tests record it instead.
    void setTerminator(std::function<void()> terminator) { terminator_ = std::move(terminator); }

    // The daily schedule: its two sheets (a button's tag is the sheet's
    // return code; ModalUI::kSheetConfirm confirms), the launch agent file
    // and the next run's moment.
    void changeScheduledTime();
    void ibRemoveScheduleTime();
    void closeMyCustomSheet(QObject* sender);
    void didEndSheet(QWidget* sheet, int returnCode);
    void didEndSheet2(QWidget* sheet, int returnCode);
    bool setLaunchAgentPlist(const std::optional<platform::Value>& time = std::nullopt);
    void unloadLaunchAgentPlist();
    void convertToNextLaunchCtlDate();
    DailySchedule& schedule() { return schedule_; }

    // The station: the slots with their watchers, the destination's monitor
    // and the problem reporter; its slots are opened by the did-finish phase.
    Station& station() const { return *station_; }
    // The folder rows, slot 0 first, once the did-finish phase has run with
    // a window; none without one.
    const std::vector<std::unique_ptr<SelectFolderNSViewController>>& rows() const { return rows_; }
    // The destination as the monitor last found it; nullopt before it has looked.
    std::optional<DestinationState> destinationState() const;

private:
    AppDelegate();
    // Queues fn on the main loop; it is dropped if the delegate is gone by then.
    void afterDelay(double seconds, void (AppDelegate::*fn)());
    void stopAllWatchersWithoutSender();
    void scanWithoutSender();
    void logLaunchDiagnostics() const;
    void removeScheduleKeys();
    void validateDestination();
    void createDestinationRow();
    std::vector<ParamDictionary> sourceSlotParameters();
    void createSourceRow(int slot, const ParamDictionary& params);
    SelectFolderNSViewController* createRow(int slot, const ParamDictionary& params);
    void placeRowView(QWidget* view, int slot);
    void beginSheet(QWidget* sheet, const std::string& name, void (AppDelegate::*didEnd)(QWidget*, int));

    // Widgets may go before the delegate does.
    QPointer<QWidget> window_;
    QPointer<QWidget> topHalfView_;
    QPointer<QWidget> destView_;
    QPointer<StateButton> toggleButton_;
    QPointer<QWidget> setTimeWindow_;
    QPointer<QWidget> disableTimeWindow_;
    DailySchedule schedule_;
    std::atomic<bool> isPolling_{false};
    bool watchingSwitchedOn_ = false; // by the user or a command, since the launch
    std::vector<std::string> arguments_;
    QPointer<RowPlacer> rowPlacer_; // owned by the rows' superview
    std::vector<std::unique_ptr<SelectFolderNSViewController>> rows_;
    std::function<void()> terminator_;
    std::shared_ptr<Station> station_;
};
