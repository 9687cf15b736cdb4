#include "folders/SelectFolderNSViewController.h"
#include "core/DestinationProblem.h"

#include "ui_SelectFolderNSView.h"

#include "dialogs/ModalUI.h"
#include "core/RemoteDestination.h"
#include "platform/remote/SecureShell.h"
#include "core/ArchiveDestination.h"
#include "core/Settings.h"
#include "folders/viewSetEnabled.h"
#include "pass/KeptVersions.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/Log.h"
#include "platform/qt/QtGuiThread.h"
#include "platform/qt/QtPreferenceBinding.h"
#include "core/TolvExtras.h"
#include "pass/FolderChoice.h"
#include "pass/FreeSpaceFloor.h"
#include "pass/PassResult.h"
#include "watch/SlotState.h"
#include "watch/SlotWatch.h"
#include "watch/WatcherNSObject.h"

#include <QIcon>
#include <QTextDocumentFragment>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <filesystem>

using platform::logf;
using platform::Notification;
using platform::NotificationCenter;
using platform::QtPreferenceBinding;
using platform::Value;

namespace {

constexpr const char* kClassName = "SelectFolderNSViewController";
constexpr const char* kAliasIsValidToolTip = "If ON, Path Exists and is Valid. Otherwise, Path is Missing or Invalid.";

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string pathToolTip(int index) {
    return index == 0 ? "Destination Backup Folder Path" : "Source Folder Path " + std::to_string(index);
}

// A button title shows "&" only when doubled; a single one marks a shortcut.
QString buttonTitle(const std::string& title) { return QString::fromStdString(title).replace("&", "&&"); }

// Any bound control keeps one binding, even if the row is set up twice.
void unbind(QWidget* control) { delete QtPreferenceBinding::of(control); }

// "doEnable" is a number holding a boolean; whichever integer type the
// poster chose, it counts.
std::optional<bool> doEnableOf(const Notification& n) {
    if (const auto* b = n.info<bool>(kUserInfoDoEnable)) return *b;
    if (const auto* i = n.info<std::int32_t>(kUserInfoDoEnable)) return *i != 0;
    if (const auto* l = n.info<std::int64_t>(kUserInfoDoEnable)) return *l != 0;
    if (const auto* d = n.info<double>(kUserInfoDoEnable)) return *d != 0.0;
    return std::nullopt;
}

} // namespace

SelectFolderNSViewController::SelectFolderNSViewController(QObject* parent) : QObject(parent), self_(this) {}

SelectFolderNSViewController::~SelectFolderNSViewController() {
    // After this no handler of ours runs, here or on a watcher's thread.
    NotificationCenter::defaultCenter().removeObserver(this);
    // The slot, and its watcher, go with their last owner: the station, or this row.
    if (view_ && !view_->parent()) delete view_;
}

std::string SelectFolderNSViewController::slotDisplayName(int slot) { return CommonHeader::slotDisplayName(slot); }

// ---- view --------------------------------------------------------------------

Ui::SelectFolderNSView* SelectFolderNSViewController::ui() const { return view_ ? ui_.get() : nullptr; }

QWidget* SelectFolderNSViewController::view() {
    if (!ui_) loadView();
    return view_;
}

void SelectFolderNSViewController::loadView() {
    ui_ = std::make_unique<Ui::SelectFolderNSView>();
    auto* view = new QWidget;
    ui_->setupUi(view);
    view_ = view;
    QProgressBar* indicator = ui_->ibNSProgressIndicator;
    // The row keeps its shape whether the indicator spins or not.
    QSizePolicy policy = indicator->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    indicator->setSizePolicy(policy);
    indicator->hide();
    // The age of what waits grows while nothing else happens.
    auto* timer = new QTimer(view);
    connect(timer, &QTimer::timeout, this, [this] { showStateLine(); });
    timer->start(std::chrono::minutes(1));
    // A running pass's count moves every second.
    auto* progressTimer = new QTimer(view);
    connect(progressTimer, &QTimer::timeout, this, [this] {
        if (slot_ && slot_->busy()) showIndicatorState();
        else if (slot_ && slot_->archiveCheck())
            showStateLine();
    });
    progressTimer->start(std::chrono::seconds(1));
    loadRevealImages();
    connectActions();
    awakeFromNib();
}

void SelectFolderNSViewController::connectActions() {
    Ui::SelectFolderNSView* u = ui_.get();
    connect(u->ibNSButtonChange, &QAbstractButton::clicked, this,
            [this, sender = u->ibNSButtonChange] { selectCameraFolder(sender); });
    connect(u->ibNSButtonReveal, &QAbstractButton::clicked, this,
            [this, sender = u->ibNSButtonReveal] { ibRevealInFinder(sender); });
    // A long error (ssh's own words) never widens the window: the line is
    // cut at the row's edge, and its tool tip holds it whole.
    u->ibStateLine->setSizePolicy(QSizePolicy::Ignored, u->ibStateLine->sizePolicy().verticalPolicy());
    connect(u->ibStateLine, &QLabel::linkActivated, this, [this](const QString& link) {
        if (link == "retry") return tryDestinationAgain();
        offerFastArchiving();
    });
    // `clicked` comes after `toggled`, on which the binding stores the state.
    connect(u->ibNSButtonEnable, &QAbstractButton::clicked, this,
            [this, sender = u->ibNSButtonEnable] { ibToggleEnableButton(sender); });
}

void SelectFolderNSViewController::loadRevealImages() {
    QToolButton* button = ui_->ibNSButtonReveal;
    QIcon icon;
    const std::pair<const char*, QIcon::Mode> images[] = {{view_tags::kImageNameProperty, QIcon::Normal},
                                                          {"alternateImageName", QIcon::Active}};
    for (const auto& [property, mode] : images) {
        const std::string name = button->property(property).toString().toStdString();
        if (name.empty()) continue;
        auto file = platform::Bundle::main().pathForResource(name, "png");
        if (!file) {
            logf("Inside %s => loadRevealImages...image [%s] is missing from the bundle", kClassName, name.c_str());
            continue;
        }
        icon.addFile(QString::fromStdString(file->string()), QSize(), mode);
        // Added whatever the screen now: the window may move to a denser one.
        if (auto sharp = platform::Bundle::main().pathForResource(name + "@2x", "png"))
            icon.addFile(QString::fromStdString(sharp->string()), QSize(), mode);
    }
    if (icon.isNull()) button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    else button->setIcon(icon);
}

void SelectFolderNSViewController::awakeFromNib() {
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, kWatcherDidStopAll, [this](const Notification& n) { handleWatcherStoppedAllNotification(n); });
    center.addObserver(this, kWatcherDidStop, [this](const Notification& n) { handleWatcherStoppedNotification(n); });
    center.addObserver(this, kWatcherStreamDidStart,
                       [this](const Notification& n) { handleStreamStartedNotification(n); });
    center.addObserver(this, kWatcherPassDidStart, [this](const Notification& n) { handlePassStartedNotification(n); });
    center.addObserver(this, kEnableView, [this](const Notification& n) { handleEnableViewNotification(n); });
    center.addObserver(this, kWatcherPassRefused, [this](const Notification& n) { handlePassRefusedNotification(n); });
    center.addObserver(this, kWatcherPassEnded, [this](const Notification& n) { handlePassEndedNotification(n); });
    for (const std::string& name : {kWatcherUnarchivedCounted, kArchiveCheckDidEnd})
        center.addObserver(this, name, [this](const Notification& n) {
            if (concernsThisRow(n)) refreshStateLine();
        });
    center.addObserver(this, kDestinationDidChange,
                       [this](const Notification& n) { handleDestinationChangedNotification(n); });
}

// ---- set-up ------------------------------------------------------------------

std::optional<std::string> SelectFolderNSViewController::preferenceKeyFor(const std::string& name) const {
    auto it = param_.find(name);
    if (it == param_.end()) return std::nullopt;
    return it->second;
}

void SelectFolderNSViewController::setupViewForIndex(std::int16_t index) {
    logf("Inside %s => setupViewForIndex...index = %d", kClassName, index);
    viewIndex_ = index;
    // The controls must exist to be bound, whoever forgot to load the view.
    view();
    bindControls();
    showEnableTitle();
    if (!slot_ || slot_->slot() != index) makeSlotWatch();
    showStateLine();
}

void SelectFolderNSViewController::bindControls() {
    Ui::SelectFolderNSView* u = ui();
    if (!u) return;
    if (auto key = preferenceKeyFor(sPrefCameraFolderPathKey)) {
        unbind(u->ibNSTextField);
        // A half-typed path ("/", "/home/us") must never reach a pass.
        QtPreferenceBinding::bindCommittedText(u->ibNSTextField, *key,
                                               [this](const std::string& typed) { commitTypedFolder(typed); });
        u->ibNSTextField->setToolTip(QString::fromStdString(pathToolTip(viewIndex_)));
    }
    if (auto key = preferenceKeyFor(sPrefCameraFolderPathAliasDataIsValidKey)) {
        unbind(u->ibNSButtonAliasIsValid);
        QtPreferenceBinding::bindChecked(u->ibNSButtonAliasIsValid, *key);
        u->ibNSButtonAliasIsValid->setToolTip(kAliasIsValidToolTip);
        u->ibNSButtonAliasIsValid->setEnabled(false);
    }
    if (auto key = preferenceKeyFor(sPrefStartingNoCameraKey)) {
        unbind(u->ibNSTextFieldForImageNumber);
        QtPreferenceBinding::bindInteger(u->ibNSTextFieldForImageNumber, *key);
    }
    if (auto key = preferenceKeyFor(sPrefCameraFolderPathEnableKey)) {
        unbind(u->ibNSButtonEnable);
        QtPreferenceBinding::bindChecked(u->ibNSButtonEnable, *key);
    }
}

void SelectFolderNSViewController::showEnableTitle() {
    Ui::SelectFolderNSView* u = ui();
    if (!u) return;
    auto title = getValueForKey(sPrefCameraFolderPathEnableTitleStringKey);
    if (!title) return;
    // The stored title as the program writes it reads as the folder's name,
    // the one --status and the notifications use; one set otherwise stays.
    if (*title == CommonHeader::slotTitle(viewIndex_)) title = CommonHeader::slotDisplayName(viewIndex_);
    u->ibNSButtonEnable->setText(buttonTitle(*title));
}

void SelectFolderNSViewController::makeSlotWatch() {
    // The slot's own copy of the parameters: later changes here do not reach it.
    slot_ = std::make_shared<SlotWatch>(viewIndex_, param_);
}

std::shared_ptr<WatcherNSObject> SelectFolderNSViewController::_watcherObj() const {
    return slot_ ? slot_->watcher() : nullptr;
}

QWidget* SelectFolderNSViewController::getNSObjectForKey(const std::optional<std::string>& key) const {
    Ui::SelectFolderNSView* u = ui();
    if (!key || !u) return nullptr;
    auto is = [&key](const std::string& name) { return equalsIgnoringCase(*key, name); };
    if (is(sPrefCameraFolderPathKey)) return u->ibNSTextField;
    if (is(sPrefCameraFolderPathAliasDataIsValidKey)) return u->ibNSButtonAliasIsValid;
    if (is(sPrefStartingNoCameraKey)) return u->ibNSTextFieldForImageNumber;
    if (is(sPrefCameraFolderPathEnableKey) || is(sPrefCameraFolderPathEnableTitleStringKey)) return u->ibNSButtonEnable;
    return nullptr;
}

std::optional<std::string> SelectFolderNSViewController::getValueForKey(const std::string& name) const {
    auto key = preferenceKeyFor(name);
    if (!key) return std::nullopt;
    const Value value = Settings::stored(*key);
    if (const std::string* text = value.string()) return *text;
    return std::nullopt;
}

// ---- choosing the folder -----------------------------------------------------

void SelectFolderNSViewController::selectCameraFolder(QWidget* sender) {
    logf("Inside %s => selectCameraFolder...index = %d", kClassName, static_cast<int>(viewIndex_));
    OpenPanelParameters parameters;
    parameters.delegate = this;
    parameters.message = "Please Select The " + slotDisplayName(viewIndex_) + " Folder:";
    parameters.prompt = "Select";
    parameters.sender = sender;
    parameters.canChooseFolders = true;
    parameters.canChooseFiles = false;
    const std::pair<const std::string&, const std::string&> roles[] = {
        {sPrefFolderNameKey, sPrefCameraFolderPathKey},
        {sPrefFolderAliasDataKey, sPrefCameraFolderPathAliasDataKey},
        {sPrefFolderNameIsValidKey, sPrefCameraFolderPathAliasDataIsValidKey},
        {sPrefCameraFolderPathEnableKey, sPrefCameraFolderPathEnableKey},
    };
    for (const auto& [panelKey, paramName] : roles)
        if (auto key = preferenceKeyFor(paramName)) parameters.keys[panelKey] = *key;
    doNSOpenPanelWithParameters(parameters);
}

void SelectFolderNSViewController::doNSOpenPanelWithParameters(const OpenPanelParameters& parameters) {
    ModalUI::OpenPanel panel;
    panel.canChooseDirectories = parameters.canChooseFolders;
    panel.canChooseFiles = parameters.canChooseFiles;
    panel.allowsMultipleSelection = false;
    panel.canCreateDirectories = parameters.canChooseFolders;
    panel.message = parameters.message;
    panel.prompt = parameters.prompt;
    if (auto it = parameters.keys.find(sPrefFolderNameKey); it != parameters.keys.end()) {
        const Value start = Settings::stored(it->second);
        if (start.string()) panel.directory = *start.string();
    }
    panel.window = parameters.sender ? parameters.sender->window() : nullptr;
    ModalUI::current().beginOpenPanel(panel, [parameters](int returnCode, const std::vector<std::string>& paths) {
        if (!parameters.delegate) {
            logf("Inside %s => open panel ended after its row was gone: nothing stored", kClassName);
            return;
        }
        parameters.delegate->openPanelDidEndNew(returnCode, paths, &parameters);
    });
}

void SelectFolderNSViewController::openPanelDidEndNew(int returnCode, const std::vector<std::string>& chosenPaths,
                                                      const OpenPanelParameters* contextInfo) {
    if (returnCode == ModalUI::kPanelCancel) {
        platform::log("openPanelDidEnd:returnCode:contextInfo returned NSCancelButton");
        return;
    }
    if (returnCode != ModalUI::kPanelOK) {
        platform::log("openPanelDidEnd:returnCode:contextInfo returned ?????");
        return;
    }
    platform::log("openPanelDidEnd:returnCode:contextInfo returned NSOKButton");
    const std::string path = chosenPaths.empty() ? std::string() : chosenPaths.back();
    if (!contextInfo) {
        platform::log("openPanelDidEnd passed NIL for contextInfo??????");
        return;
    }
    if (path.empty()) {
        platform::log("openPanelDidEnd returned no folder: nothing stored");
        return;
    }
    storeChosenFolder(path, contextInfo->keys);
}

ParamDictionary SelectFolderNSViewController::folderKeys() const {
    ParamDictionary keys;
    const std::pair<const std::string&, const std::string&> roles[] = {
        {sPrefFolderNameKey, sPrefCameraFolderPathKey},
        {sPrefFolderAliasDataKey, sPrefCameraFolderPathAliasDataKey},
        {sPrefFolderNameIsValidKey, sPrefCameraFolderPathAliasDataIsValidKey},
    };
    for (const auto& [role, paramName] : roles)
        if (auto key = preferenceKeyFor(paramName)) keys[role] = *key;
    return keys;
}

void SelectFolderNSViewController::commitTypedFolder(const std::string& typed) {
    std::string why;
    const auto path = FolderChoice::typedPath(viewIndex_, typed, &why);
    if (!path) return showRefusal(typed, why);
    // Stored as a chosen folder is, alias data included, so a later move of
    // the folder is followed; the enable switch stays as the user set it.
    storeChosenFolder(*path, folderKeys());
}

void SelectFolderNSViewController::showRefusal(const std::string& path, const std::string& why) {
    logf("Inside %s => folder \"%s\" refused for slot %d: %s", kClassName, path.c_str(), static_cast<int>(viewIndex_),
         why.c_str());
    ModalUI::Alert alert;
    alert.message = "This folder cannot be the " + slotDisplayName(viewIndex_) + " folder";
    alert.informativeText = "\"" + path + "\"\n\n" + why + "\n\nThe folder chosen before stays in use.";
    alert.window = view_ ? view_->window() : nullptr;
    ModalUI::current().runAlert(alert);
}

void SelectFolderNSViewController::storeChosenFolder(const std::string& path, const ParamDictionary& keys) {
    if (auto why = FolderChoice::choose(viewIndex_, path, keys)) showRefusal(path, *why);
}

// ---- reveal and enable -----------------------------------------------------

void SelectFolderNSViewController::ibRevealInFinder(QWidget*) {
    std::optional<std::string> path;
    if (auto key = preferenceKeyFor(sPrefCameraFolderPathKey)) {
        const Value stored = Settings::stored(*key);
        if (stored.string()) path = *stored.string();
    }
    revealItemInFinder(path);
}

void SelectFolderNSViewController::ibToggleEnableButton(QWidget*) {
    auto key = preferenceKeyFor(sPrefCameraFolderPathEnableKey);
    const bool doEnable = key && Settings::storedBool(*key);
    if (doEnable) logf("%s->%s... doEnable is TRUE........", kClassName, "ibToggleEnableButton");
    else logf("%s->%s... doEnable is FALSE........", kClassName, "ibToggleEnableButton");
    NotificationCenter::defaultCenter().post(doEnable ? kWatcherDoStart : kWatcherDoStop, nullptr,
                                             platform::UserInfo{{kUserInfoIndex, std::int32_t{viewIndex_}}});
}

void SelectFolderNSViewController::ibShowBindings(QWidget*) {
    Ui::SelectFolderNSView* u = ui();
    if (!u) return;
    const std::pair<const char*, QWidget*> controls[] = {{"ibNSButtonEnable", u->ibNSButtonEnable},
                                                         {"ibNSButtonAliasIsValid", u->ibNSButtonAliasIsValid}};
    for (const auto& [name, control] : controls) {
        const QtPreferenceBinding* binding = QtPreferenceBinding::of(control);
        logf("%s->%s...%s value binding = [%s]", kClassName, "ibShowBindings", name,
             binding ? ("values." + binding->key()).c_str() : "(none)");
        logf("%s->%s...%s enabled binding = [(none)], isEnabled = %s", kClassName, "ibShowBindings", name,
             control->isEnabled() ? "YES" : "NO");
    }
}

// ---- watcher feedback ----------------------------------------------------------

bool SelectFolderNSViewController::concernsThisRow(const Notification& n) const { return slot_ && slot_->concerns(n); }

void SelectFolderNSViewController::handleStreamStartedNotification(const Notification& n) {
    if (concernsThisRow(n)) refreshStateLine();
}

void SelectFolderNSViewController::handlePassStartedNotification(const Notification& n) {
    if (!concernsThisRow(n)) return;
    refreshIndicator();
    showPassRefusal(std::nullopt);
}

void SelectFolderNSViewController::handlePassEndedNotification(const Notification& n) {
    if (concernsThisRow(n)) refreshStateLine();
}

void SelectFolderNSViewController::handleDestinationChangedNotification(const Notification&) { refreshStateLine(); }

std::optional<std::string> SelectFolderNSViewController::destinationProblem() const {
    return slot_ ? slot_->destinationProblem() : std::nullopt;
}

void SelectFolderNSViewController::handlePassRefusedNotification(const Notification& n) {
    const auto* reason = n.info<std::string>(kUserInfoReason);
    if (concernsThisRow(n) && reason) showPassRefusal(*reason);
}

void SelectFolderNSViewController::showPassRefusal(const std::optional<std::string>& reason) {
    platform::runOnGuiThread([self = self_, reason] {
        Ui::SelectFolderNSView* u = self ? self->ui() : nullptr;
        if (!u) return;
        QLineEdit* field = u->ibNSTextField;
        const std::string tip = pathToolTip(self->viewIndex_);
        field->setToolTip(QString::fromStdString(reason ? tip + "\nNot archived: " + *reason : tip));
        field->setStyleSheet(reason ? "QLineEdit { color: #b00020; }" : "");
    });
}

std::string SelectFolderNSViewController::passRefusalShown() const {
    Ui::SelectFolderNSView* u = ui();
    if (!u || u->ibNSTextField->styleSheet().isEmpty()) return {};
    return u->ibNSTextField->toolTip().toStdString();
}

void SelectFolderNSViewController::handleWatcherStoppedNotification(const Notification& n) {
    if (concernsThisRow(n)) refreshIndicator();
}

void SelectFolderNSViewController::handleWatcherStoppedAllNotification(const Notification& n) {
    logf("Inside %s => handleWatcherStoppedAllNotification...object = %p (index %d)", kClassName, n.object.get(),
         static_cast<int>(viewIndex_));
    refreshIndicator();
}

void SelectFolderNSViewController::handleEnableViewNotification(const Notification& n) {
    const auto doEnable = doEnableOf(n);
    if (!doEnable) return;
    platform::runOnGuiThread([self = self_, flag = *doEnable] {
        if (self && self->view_) viewSetEnabled(self->view_, flag);
    });
}

void SelectFolderNSViewController::refreshIndicator() {
    // Queued even on the GUI thread, so the slot has taken the news first;
    // it shows what the slot says by the time it gets there, so a start
    // queued from a watcher's thread cannot undo a later stop.
    platform::queueOnGuiThread([self = self_] {
        if (self) self->showIndicatorState();
    });
}

void SelectFolderNSViewController::showIndicatorState() {
    if (Ui::SelectFolderNSView* u = ui()) {
        QProgressBar* bar = u->ibNSProgressIndicator;
        // Determinate once the pass knows how many files it has to take; busy before.
        const auto progress = slot_ ? slot_->progress() : std::nullopt;
        bar->setHidden(!slot_ || !slot_->busy());
        bar->setRange(0, progress ? 1000 : 0);
        if (progress) bar->setValue(static_cast<int>(progress->share() * 1000));
    }
    showStateLine();
}

// ---- state line --------------------------------------------------------------

SlotState::Inputs SelectFolderNSViewController::stateInputs() const {
    return slot_ ? slot_->stateInputs() : SlotState::storedSwitches(viewIndex_);
}

SlotState SelectFolderNSViewController::slotState() const {
    return SlotState::of(stateInputs(), std::chrono::system_clock::now());
}

// The destination row's words for what keeps passes from archiving into it.
std::string SelectFolderNSViewController::destinationTitle(const std::string& problem) {
    return DestinationProblem::title(problem);
}

SelectFolderNSViewController::StateLine SelectFolderNSViewController::destinationLine() const {
    const auto key = preferenceKeyFor(sPrefCameraFolderPathKey);
    const std::string path = key ? Settings::storedString(*key).value_or("") : "";
    if (path.empty()) return {};
    if (const std::string problem = destinationProblem().value_or(""); !problem.empty())
        return {destinationTitle(problem) + sshKeyNote(path), true};
    // As the monitor last found it: a share that stops answering never holds the window.
    const std::optional<std::uintmax_t> free = slot_ ? slot_->destinationFreeBytes() : std::nullopt;
    std::string keyNote = sshKeyNote(path);
    if (const auto kept = KeptVersions::stored(); kept && kept->count > 0 && kept->destination == path)
        keyNote += " · " + kept->text();
    if (!free) return {keyNote.empty() ? "" : keyNote.substr(3), false}; // without the leading " · "
    const std::string text = FreeSpaceFloor::gigabytes(*free) + " free" + keyNote;
    if (*free < FreeSpaceFloor::floorBytes()) return {text + " · below the free-space floor: nothing is copied", true};
    return {text, false};
}

std::string SelectFolderNSViewController::sshKeyNote(const std::string& path) const {
    const auto remote = RemoteDestination::parse(path);
    if (!remote) return "";
    if (keyNoteFor_ != path) {
        keyNoteFor_ = path;
        const auto key = platform::SecureShell::identityFor(remote->login);
        keyNote_ = " · ssh key " + key.value_or("none found");
    }
    return keyNote_;
}

SelectFolderNSViewController::StateLine SelectFolderNSViewController::sourceLine() const {
    const SlotState::Inputs in = stateInputs();
    const SlotState state = SlotState::of(in, std::chrono::system_clock::now());
    return {state.line(in.last, in.lastArchived), !state.problem().empty()};
}

void SelectFolderNSViewController::refreshStateLine() {
    // Queued even on the GUI thread, so the slot has taken the news first.
    platform::queueOnGuiThread([self = self_] {
        if (self) self->showStateLine();
    });
}

void SelectFolderNSViewController::showStateLine() {
    Ui::SelectFolderNSView* u = ui();
    if (!u) return;
    const StateLine line = viewIndex_ == CommonHeader::kDestinationSlot ? destinationLine() : sourceLine();
    // The destination's box follows its last look (a disk mounted again, a
    // server), not only the last validation of its path.
    if (viewIndex_ == CommonHeader::kDestinationSlot)
        if (const auto problem = destinationProblem()) u->ibNSButtonAliasIsValid->setChecked(problem->empty());
    QString text = QString::fromStdString(line.text);
    const bool retry = viewIndex_ == CommonHeader::kDestinationSlot && line.problem;
    if (retry) {
        text = text.toHtmlEscaped() + " · <a href=\"retry\">Try again</a>";
        u->ibStateLine->setTextFormat(Qt::RichText);
    } else if (const auto hint = fastArchivingHint()) {
        text = text.toHtmlEscaped() + " · " + QString::fromStdString(*hint).toHtmlEscaped() +
               " <a href=\"fast\">Use Fast archiving…</a>";
        u->ibStateLine->setTextFormat(Qt::RichText);
    } else {
        u->ibStateLine->setTextFormat(Qt::PlainText);
    }
    u->ibStateLine->setText(text);
    u->ibStateLine->setToolTip(QString::fromStdString(line.text));
    u->ibStateLine->setStyleSheet(line.problem ? "QLabel { color: #b00020; }" : "");
}

// After a long pass of the per-file engine, while fast archiving is off:
// how long it took, and that fast archiving would copy the same in one run.
std::optional<std::string> SelectFolderNSViewController::fastArchivingHint() const {
    if (viewIndex_ == CommonHeader::kDestinationSlot) return std::nullopt;
    const auto last = stateInputs().last;
    if (!last || !last->slowWithoutFastArchiving() || Settings::read().fast) return std::nullopt;
    const long minutes = std::lround(last->seconds / 60);
    return "the last pass took " + std::to_string(minutes) + " min; Fast archiving would copy the same files in one run";
}

void SelectFolderNSViewController::tryDestinationAgain() {
    logf("Inside %s => the destination is looked at again, as the user asked", kClassName);
    platform::NotificationCenter::defaultCenter().post(kDestinationRetry);
}

void SelectFolderNSViewController::offerFastArchiving() {
    ModalUI::Alert alert;
    alert.message = "Switch Fast archiving on?";
    alert.informativeText = "Fast archiving copies the settled files of a folder with a few rsync runs instead of "
                            "one run per file. It applies to every folder from the next pass on.";
    alert.defaultButton = "Use Fast archiving";
    alert.alternateButton = "Cancel";
    alert.window = view_ ? view_->window() : nullptr;
    if (ModalUI::current().runAlert(alert) != ModalUI::kDefaultReturn) return;
    Settings::store(kPrefUseBatchedSynchronization, Value(true));
    Settings::save();
    logf("Inside %s => Fast archiving switched on from the hint of slot %d", kClassName, static_cast<int>(viewIndex_));
    showStateLine();
}

std::string SelectFolderNSViewController::stateLineShown() const {
    Ui::SelectFolderNSView* u = ui();
    if (!u) return {};
    // As it reads: a link's words, not its markup.
    const QString text = u->ibStateLine->text();
    if (u->ibStateLine->textFormat() != Qt::RichText) return text.toStdString();
    return QTextDocumentFragment::fromHtml(text).toPlainText().toStdString();
}

bool SelectFolderNSViewController::indicatorIsAnimating() const {
    Ui::SelectFolderNSView* u = ui();
    return u && !u->ibNSProgressIndicator->isHidden();
}
