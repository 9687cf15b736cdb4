#pragma once
// One folder row of the main window. The row shows its slot's path,
// validity, starting number and enable switch straight from the preferences,
// chooses the folder in an open panel, reveals it, spins an indicator while
// a pass of the slot runs and shows the slot's state under the path. What
// it shows of the slot comes from the slot's SlotWatch, which the station
// hands it (or, for a row set up on its own, which it makes: a source
// slot's then creates the watcher); the switch is a command to the slot.

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/SlotState.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QWidget;
class SlotWatch;
class WatcherNSObject;
namespace Ui {
class SelectFolderNSView;
}

class SelectFolderNSViewController : public QObject {
    Q_OBJECT
public:
    // What an open panel carries and hands back unchanged to its end.
    struct OpenPanelParameters {
        QPointer<SelectFolderNSViewController> delegate; // receives the end of the panel
        std::string message;
        std::string prompt;
        QPointer<QWidget> sender; // the panel is a sheet on this control's window
        bool canChooseFolders = true;
        bool canChooseFiles = false;
        // "prefFolderNameKey", "prefFolderAliasDataKey", "prefFolderNameIsValidKey"
        // and, when the slot has one, "sPrefCameraFolderPathEnableKey", each
        // mapped to the slot's preference key of that role.
        ParamDictionary keys;
    };

    // A row of the interface description "SelectFolderNSView"; the view is
    // loaded when view() is first asked for.
    explicit SelectFolderNSViewController(QObject* parent = nullptr);
    // Stops the row's watcher. The view goes too, unless a window holds it.
    ~SelectFolderNSViewController() override;

    std::int16_t _viewIndex() const { return viewIndex_; }
    void set_viewIndex(std::int16_t index) { viewIndex_ = index; }
    std::shared_ptr<WatcherNSObject> _watcherObj() const;
    // The slot the row shows; given before setupViewForIndex, or made there.
    const std::shared_ptr<SlotWatch>& slotWatch() const { return slot_; }
    void setSlotWatch(std::shared_ptr<SlotWatch> slot) { slot_ = std::move(slot); }
    const ParamDictionary& _Param() const { return param_; }
    void set_Param(const ParamDictionary& param) { param_ = param; }

    // The row's view, loaded on first use (which runs awakeFromNib); null
    // once someone else has deleted it.
    QWidget* view();
    void awakeFromNib();
    // Binds the controls, sets tool tips and title, and for a source slot
    // not handed one makes its SlotWatch, which creates and starts the watcher.
    void setupViewForIndex(std::int16_t index);
    // The control bound to a parameter name (compared ignoring case), or null.
    QWidget* getNSObjectForKey(const std::optional<std::string>& key) const;
    // The string stored under the preference key that a parameter name maps to.
    std::optional<std::string> getValueForKey(const std::string& name) const;

    // Actions.
    void selectCameraFolder(QWidget* sender);
    void doNSOpenPanelWithParameters(const OpenPanelParameters& parameters);
    void openPanelDidEndNew(int returnCode, const std::vector<std::string>& chosenPaths,
                            const OpenPanelParameters* contextInfo);
    void ibRevealInFinder(QWidget* sender);
    void ibToggleEnableButton(QWidget* sender);
    void ibShowBindings(QWidget* sender);

    // Observers. They run on the posting thread, often a watcher's; what they
    // change on screen is carried to the GUI thread.
    // The slot's stream runs: the state line says "Watching".
    void handleStreamStartedNotification(const platform::Notification& n);
    // A pass of the slot begins: the indicator spins. The handlers only
    // redraw: the slot has kept what the news said.
    void handlePassStartedNotification(const platform::Notification& n);
    void handleWatcherStoppedNotification(const platform::Notification& n);
    void handleWatcherStoppedAllNotification(const platform::Notification& n);
    void handleEnableViewNotification(const platform::Notification& n);
    // A pass of this row's slot was refused: the path field says why until
    // the next pass begins.
    void handlePassRefusedNotification(const platform::Notification& n);
    // The path field's tool tip while it shows a refusal, else "" (GUI thread).
    std::string passRefusalShown() const;

    // A pass of this row's slot ended: its state line shows the result.
    void handlePassEndedNotification(const platform::Notification& n);
    // The destination's problem changed: every row's line shows it.
    void handleDestinationChangedNotification(const platform::Notification& n);
    // What keeps passes from archiving into the destination, "" when
    // nothing, nullopt before it was first looked at.
    std::optional<std::string> destinationProblem() const;
    static std::string destinationTitle(const std::string& problem);

    // Whether the activity indicator is shown spinning (GUI thread): only
    // while a pass runs.
    bool indicatorIsAnimating() const;
    // The line under the path: the slot's state, when its last pass ended
    // and what that pass did; for the destination, its free space (GUI thread).
    std::string stateLineShown() const;
    // The hint shown after a long per-file pass, and what its link does.
    std::optional<std::string> fastArchivingHint() const;
    void tryDestinationAgain();
    void offerFastArchiving();
    // What the slot is doing, as its state line shows it, and what that is
    // made of: the stored preferences, its stream, its passes.
    SlotState slotState() const;
    SlotState::Inputs stateInputs() const;

    // "Destination/Backup", "Main Images", "For Web", "Composed Images".
    static std::string slotDisplayName(int slot);

private:
    Ui::SelectFolderNSView* ui() const;
    void loadView();
    void connectActions();
    void loadRevealImages();
    void bindControls();
    void showEnableTitle();
    void makeSlotWatch();
    std::optional<std::string> preferenceKeyFor(const std::string& name) const;
    bool concernsThisRow(const platform::Notification& n) const;
    void refreshIndicator(); // from any thread
    void showIndicatorState();
    struct StateLine {
        std::string text;
        bool problem = false; // shown in red
    };
    StateLine destinationLine() const;
    // For a destination on a server: " · ssh key <file>", looked up once per destination.
    std::string sshKeyNote(const std::string& path) const;
    StateLine sourceLine() const;
    void refreshStateLine(); // from any thread
    void showStateLine();    // GUI thread
    void storeChosenFolder(const std::string& path, const ParamDictionary& keys);
    ParamDictionary folderKeys() const;
    void commitTypedFolder(const std::string& typed);
    // True, after telling the user why, when the slot may not hold the folder.
    void showRefusal(const std::string& path, const std::string& why);
    void showPassRefusal(const std::optional<std::string>& reason);

    std::atomic<std::int16_t> viewIndex_{0};
    std::shared_ptr<SlotWatch> slot_;
    ParamDictionary param_;
    std::unique_ptr<Ui::SelectFolderNSView> ui_;
    QPointer<QWidget> view_;
    mutable std::string keyNoteFor_; // on the GUI thread
    mutable std::string keyNote_;
    // Made once on the GUI thread, copied by handlers on other threads.
    const QPointer<SelectFolderNSViewController> self_;
};
