#include "app/window/MainWindow.h"

#include "app/lifecycle/AppDelegate.h"
#include "app/schedule/LoginStart.h"
#include "app/window/ScheduleSheets.h"
#include "core/CommonHeader.h"
#include "platform/qt/QtPreferenceBinding.h"
#include "platform/runtime/Log.h"

#include "ui_MainWindow.h"
#include "station/Station.h"

#include <QCloseEvent>
#include <QSignalBlocker>
#include <QShowEvent>
#include <QWindow>

using platform::QtPreferenceBinding;

MainWindow::MainWindow(std::shared_ptr<AppDelegate> delegate, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::MainWindow>()), delegate_(std::move(delegate)) {
    ui_->setupUi(this);
    // Watching is off after launch; the title offers the next action.
    ui_->toggleButton->setState(StateButton::kOnState);
    ui_->toggleButton->setText("Turn On");
    connectOutlets();
    connectActions();
    bindPreferences();
}

MainWindow::~MainWindow() = default;

StateButton* MainWindow::toggleButton() const { return ui_->toggleButton; }

QSize MainWindow::sizeHint() const {
    constexpr int kPreferredCharacters = 130;
    return QMainWindow::sizeHint().expandedTo(QSize(fontMetrics().averageCharWidth() * kPreferredCharacters, 0));
}

void MainWindow::connectOutlets() {
    delegate_->setWindow(this);
    delegate_->set_topHalfView(ui_->topHalfView);
    delegate_->set_destView(ui_->destView);
    delegate_->setIbToggleButton(ui_->toggleButton);
    new ScheduleSheets(this, delegate_.get());
    // The station's problems are named in the title, and "Open" brings the window forward.
    QPointer<MainWindow> self(this);
    delegate_->station().problems().setWindow({[self](const std::string& title) {
                                                   if (self) self->setWindowTitle(QString::fromStdString(title));
                                               },
                                               [self] {
                                                   if (!self) return;
                                                   self->show();
                                                   self->raise();
                                                   self->activateWindow();
                                               }});
}

void MainWindow::connectActions() {
    // The window holds the delegate, so it outlives every connection made here.
    AppDelegate* d = delegate_.get();
    StateButton* toggle = ui_->toggleButton;
    connect(ui_->scanButton, &QPushButton::clicked, this, [d] { d->ibScanAgain(); });
    connect(ui_->actionScanNow, &QAction::triggered, this, [d] { d->ibScanAgain(); });
    connect(toggle, &QPushButton::clicked, this, [d, toggle] { d->ibStopAllWatcher(toggle); });
    connect(ui_->actionPollAllFolders, &QAction::triggered, this, [d] { d->pollAllPaths(); });
    connect(ui_->actionDeleteOldWarning, &QAction::triggered, this, [d] { d->deleteAllOldPhotos(); });
    connect(ui_->actionCheckArchive, &QAction::triggered, this, [d] { d->checkArchive(); });
    // Quitting goes through the delegate's guard, which asks while a pass runs.
    connect(ui_->actionQuit, &QAction::triggered, this, [d] { d->terminate(nullptr); });
    connect(ui_->setTimeButton, &QPushButton::clicked, this, [d] { d->changeScheduledTime(); });
    connect(ui_->removeScheduleButton, &QPushButton::clicked, this, [d] { d->ibRemoveScheduleTime(); });
    ui_->startAtLoginCheck->setChecked(LoginStart::isOn());
    connect(ui_->startAtLoginCheck, &QCheckBox::toggled, this, [this](bool on) {
        std::string error;
        if (LoginStart::set(on, &error)) return;
        platform::logf("ERROR: start at login: %s", error.c_str());
        const QSignalBlocker quiet(ui_->startAtLoginCheck);
        ui_->startAtLoginCheck->setChecked(LoginStart::isOn());
    });
    QPushButton* relaunch = ui_->relaunchButton;
    relaunch->setEnabled(true);
    connect(relaunch, &QPushButton::clicked, this, [d, relaunch] { d->ibRelaunchApp(relaunch); });
}

void MainWindow::bindPreferences() {
    QtPreferenceBinding::bindInteger(ui_->minutesOldSpin, kPrefBackupSourceImagesAfterMinutesOld);
    QtPreferenceBinding::bindChecked(ui_->deleteOldCheck, kPrefEnableDeleteOldSourceImages);
    QtPreferenceBinding::bindInteger(ui_->deleteDaysSpin, kPrefDeleteSourceImagesAfterDaysOld);
    QtPreferenceBinding::bindChecked(ui_->fastArchivingCheck, kPrefUseBatchedSynchronization);
    QtPreferenceBinding::bindInteger(ui_->fullPassSpin, kPrefFullPassIntervalMinutes);
    QtPreferenceBinding::bindChecked(ui_->saveLogsCheck, kPrefDoSaveLogs);
    QtPreferenceBinding::bindInteger(ui_->logDaysSpin, kPrefDaysToSaveLogs);
    QtPreferenceBinding::bindInteger(ui_->verifyDaysSpin, kPrefVerifyArchiveDays);
    QtPreferenceBinding::bindLabel(ui_->versionLabel, kPrefVersionDisplayString);
    QtPreferenceBinding::bindLabel(ui_->nextRunLabel, sPrefNextScheduledTimeDisplayString);
    QtPreferenceBinding::bindLabel(ui_->lastAgentStartLabel, kPreflastLaunchctlDate);
    // The age only matters while deletion is on.
    ui_->deleteDaysSpin->setEnabled(ui_->deleteOldCheck->isChecked());
    connect(ui_->deleteOldCheck, &QCheckBox::toggled, ui_->deleteDaysSpin, &QWidget::setEnabled);
    // So does the full pass's interval while archiving is not fast.
    ui_->fullPassSpin->setEnabled(ui_->fastArchivingCheck->isChecked());
    connect(ui_->fastArchivingCheck, &QCheckBox::toggled, ui_->fullPassSpin, &QWidget::setEnabled);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (delegate_->windowShouldClose(this)) event->accept();
    else event->ignore();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Shown is not yet on screen: that is the window system's expose.
    if (!shown_ && windowHandle()) windowHandle()->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!shown_ && watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        shown_ = true;
        windowHandle()->removeEventFilter(this);
        // Queued, so it comes after the paint that this expose starts.
        QMetaObject::invokeMethod(this, &MainWindow::firstShown, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}
