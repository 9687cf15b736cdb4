#include "folders/SelectFolderNSViewController.h"

#include "core/ArchiveDestination.h"
#include "core/DestinationMarker.h"
#include "core/MyAliasKit.h"
#include "folders/viewSetEnabled.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/preferences/UserDefaults.h"
#include "support/QtTestApp.h"
#include "support/ScriptedModalUI.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"
#include "core/TolvExtras.h"
#include "watch/WatcherNSObject.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::Notification;
using platform::NotificationCenter;
using platform::UserDefaults;
using platform::UserInfo;
using platform::Value;
using testing_support::drainEvents;
using testing_support::processEventsUntil;
using testing_support::ScriptedModalUI;
using testing_support::StderrCapture;
using testing_support::TempHome;
using Row = SelectFolderNSViewController;

namespace {

// The names and "index" of what was posted, in order.
class PostRecorder {
public:
    explicit PostRecorder(std::initializer_list<std::string> names) {
        for (const auto& name : names)
            NotificationCenter::defaultCenter().addObserver(this, name, [this](const Notification& n) {
                const auto* index = n.info<std::int32_t>(kUserInfoIndex);
                std::lock_guard lock(mutex_);
                posted_.push_back({n.name, index ? *index : -1000});
            });
    }
    ~PostRecorder() { NotificationCenter::defaultCenter().removeObserver(this); }
    std::vector<std::pair<std::string, int>> posted() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, int>> posted_;
};

// The keys written among a set of keys, in the order of the writes.
class KeyWriteOrder {
public:
    explicit KeyWriteOrder(const std::vector<std::string>& keys) {
        for (const auto& key : keys)
            ids_.push_back(UserDefaults::standard().addObserver(key, [this](const std::string& k, const Value&) {
                std::lock_guard lock(mutex_);
                order_.push_back(k);
            }));
    }
    ~KeyWriteOrder() {
        for (auto id : ids_) UserDefaults::standard().removeObserver(id);
    }
    std::vector<std::string> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }

private:
    std::vector<UserDefaults::ObserverId> ids_;
    mutable std::mutex mutex_;
    std::vector<std::string> order_;
};

void postFromWorker(const std::string& name, std::optional<UserInfo> info) {
    std::thread([&] { NotificationCenter::defaultCenter().post(name, nullptr, info); }).join();
}

std::shared_ptr<WatcherNSObject> watcherOfSlot(int slot) {
    auto w = WatcherNSObject::create();
    w->set_index(static_cast<std::int16_t>(slot));
    return w;
}

template <class T>
T* control(Row& row, const char* name) {
    return row.view()->findChild<T*>(name);
}

class SelectFolderNSViewControllerTest : public ::testing::Test {
protected:
    SelectFolderNSViewControllerTest() {
        setenv("TOLV_BUNDLE_PATH", TOLV_TEST_BUNDLE_PATH, 0);
        testing_support::qtTestApp();
        ModalUI::setCurrent(dialogs_);
    }
    ~SelectFolderNSViewControllerTest() override { ModalUI::setCurrent(nullptr); }

    // A row made the way the application makes one, the destination's
    // enable box locked by its creator through getNSObjectForKey.
    static std::unique_ptr<Row> makeRow(int slot, const ParamDictionary& params) {
        auto row = std::make_unique<Row>();
        row->set_viewIndex(static_cast<std::int16_t>(slot));
        row->set_Param(params);
        row->view();
        row->setupViewForIndex(static_cast<std::int16_t>(slot));
        if (slot == CommonHeader::kDestinationSlot)
            if (auto* box = qobject_cast<QAbstractButton*>(row->getNSObjectForKey(sPrefCameraFolderPathEnableKey)))
                box->setEnabled(false);
        return row;
    }
    static std::unique_ptr<Row> makeRow(int slot) { return makeRow(slot, CommonHeader::slotParameters(slot)); }

    UserDefaults& prefs() { return UserDefaults::standard(); }
    std::string key(int slot, const std::string& name) { return CommonHeader::param(CommonHeader::slotParameters(slot), name); }
    fs::path root() const { return fs::canonical(home_.path()); }

    TempHome home_;
    std::shared_ptr<ScriptedModalUI> dialogs_ = std::make_shared<ScriptedModalUI>();
};

// ---- set-up -----------------------------------------------------------------

TEST_F(SelectFolderNSViewControllerTest, DestinationRowHasNoWatcherAndALockedEnableBox) {
    auto row = makeRow(0);
    EXPECT_EQ(row->_watcherObj(), nullptr);
    EXPECT_FALSE(control<QCheckBox>(*row, "ibNSButtonEnable")->isEnabled());
    EXPECT_EQ(control<QLineEdit>(*row, "ibNSTextField")->toolTip(), "Destination Backup Folder Path");
}

TEST_F(SelectFolderNSViewControllerTest, SourceRowOwnsAWatcherWithItsOwnCopyOfTheParameters) {
    auto row = makeRow(3);
    ASSERT_NE(row->_watcherObj(), nullptr);
    EXPECT_EQ(row->_watcherObj()->_index(), 3);
    EXPECT_EQ(row->_watcherObj()->_param(), CommonHeader::slotParameters(3));
    row->set_Param({});
    EXPECT_EQ(row->_watcherObj()->_param(), CommonHeader::slotParameters(3));

    EXPECT_TRUE(control<QCheckBox>(*row, "ibNSButtonEnable")->isEnabled());
    EXPECT_EQ(control<QLineEdit>(*row, "ibNSTextField")->toolTip(), "Source Folder Path 3");
    auto* valid = control<QCheckBox>(*row, "ibNSButtonAliasIsValid");
    EXPECT_EQ(valid->toolTip(), "If ON, Path Exists and is Valid. Otherwise, Path is Missing or Invalid.");
    EXPECT_FALSE(valid->isEnabled());
}

TEST_F(SelectFolderNSViewControllerTest, ControlsAreFoundByParameterNameIgnoringCase) {
    auto row = makeRow(1);
    EXPECT_EQ(row->getNSObjectForKey(std::string("SPREFCAMERAFOLDERPATHKEY")), control<QLineEdit>(*row, "ibNSTextField"));
    EXPECT_EQ(row->getNSObjectForKey(sPrefCameraFolderPathAliasDataIsValidKey),
              control<QCheckBox>(*row, "ibNSButtonAliasIsValid"));
    EXPECT_EQ(row->getNSObjectForKey(sPrefStartingNoCameraKey),
              control<QSpinBox>(*row, "ibNSTextFieldForImageNumber"));
    auto* enable = control<QCheckBox>(*row, "ibNSButtonEnable");
    EXPECT_EQ(row->getNSObjectForKey(sPrefCameraFolderPathEnableKey), enable);
    EXPECT_EQ(row->getNSObjectForKey(std::string("spreFCameraFolderPathEnableTitleStringKey")), enable);
    EXPECT_EQ(row->getNSObjectForKey(sPrefCameraFolderPathAliasDataKey), nullptr);
    EXPECT_EQ(row->getNSObjectForKey(std::string("prefCameraFolderPathFormat1")), nullptr);
    EXPECT_EQ(row->getNSObjectForKey(std::nullopt), nullptr);
}

TEST_F(SelectFolderNSViewControllerTest, EnableTitleComesFromThePreferencesOnlyWhenAStringIsStored) {
    prefs().setObject(key(1, sPrefCameraFolderPathEnableTitleStringKey), Value("Backup Main Images & More"));
    auto titled = makeRow(1);
    EXPECT_EQ(control<QCheckBox>(*titled, "ibNSButtonEnable")->text(), "Backup Main Images && More");
    EXPECT_EQ(titled->getValueForKey(sPrefCameraFolderPathEnableTitleStringKey), "Backup Main Images & More");

    prefs().setInteger(key(2, sPrefCameraFolderPathEnableTitleStringKey), 7);
    auto numbered = makeRow(2);
    EXPECT_EQ(numbered->getValueForKey(sPrefCameraFolderPathEnableTitleStringKey), std::nullopt);
    EXPECT_EQ(control<QCheckBox>(*numbered, "ibNSButtonEnable")->text(), "Enable");

    ParamDictionary untitled = CommonHeader::slotParameters(3);
    untitled.erase(sPrefCameraFolderPathEnableTitleStringKey);
    auto plain = makeRow(3, untitled);
    EXPECT_EQ(control<QCheckBox>(*plain, "ibNSButtonEnable")->text(), "Enable");
    EXPECT_EQ(plain->getValueForKey(sPrefCameraFolderPathEnableTitleStringKey), std::nullopt);
}

// ---- choosing the folder -------------------------------------------------------

TEST_F(SelectFolderNSViewControllerTest, ChoosingAFolderStoresPathValidityAliasAndEnableInThatOrder) {
    const std::string pathKey = key(2, sPrefCameraFolderPathKey), validKey = key(2, sPrefCameraFolderPathAliasDataIsValidKey),
                      aliasKey = key(2, sPrefCameraFolderPathAliasDataKey), enableKey = key(2, sPrefCameraFolderPathEnableKey);
    prefs().setObject(pathKey, Value("/where/it/was"));
    prefs().setBool(enableKey, false);
    auto row = makeRow(2);
    const auto other = home_.makeFolder("other"), chosen = home_.makeFolder("For Web");
    dialogs_->answerNextPanel({ModalUI::kPanelOK, {other.string(), chosen.string()}});

    KeyWriteOrder writes({pathKey, validKey, aliasKey, enableKey});
    control<QPushButton>(*row, "ibNSButtonChange")->click();

    EXPECT_EQ(writes.order(), (std::vector<std::string>{pathKey, validKey, aliasKey, enableKey}));
    EXPECT_EQ(prefs().objectForKey(pathKey), Value(chosen.string())); // the last of the chosen paths
    EXPECT_TRUE(prefs().boolForKey(validKey));
    EXPECT_TRUE(prefs().boolForKey(enableKey));
    const Value alias = prefs().objectForKey(aliasKey);
    ASSERT_TRUE(alias.data());
    std::string resolved;
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(alias.data(), &resolved));
    EXPECT_EQ(resolved, fs::canonical(chosen).string());
    // The row shows the choice through its bindings.
    EXPECT_EQ(control<QLineEdit>(*row, "ibNSTextField")->text().toStdString(), chosen.string());
    EXPECT_TRUE(control<QCheckBox>(*row, "ibNSButtonEnable")->isChecked());

    const auto panels = dialogs_->panels();
    ASSERT_EQ(panels.size(), 1u);
    const ModalUI::OpenPanel& panel = panels[0];
    EXPECT_EQ(panel.message, "Please Select The For Web Folder:");
    EXPECT_EQ(panel.prompt, "Select");
    EXPECT_TRUE(panel.canChooseDirectories);
    EXPECT_FALSE(panel.canChooseFiles);
    EXPECT_FALSE(panel.allowsMultipleSelection);
    EXPECT_TRUE(panel.canCreateDirectories);
    EXPECT_EQ(panel.directory, "/where/it/was");
    EXPECT_EQ(panel.window, row->view()->window());
}

// The destination is the archive by its marker: choosing a folder marks it,
// choosing an archive again keeps its ID, and a folder that refuses the
// marker is not chosen.
TEST_F(SelectFolderNSViewControllerTest, ChoosingTheDestinationMarksItAsTheArchive) {
    auto row = makeRow(0);
    const std::string pathKey = key(0, sPrefCameraFolderPathKey);
    auto choose = [&](const fs::path& folder) {
        dialogs_->answerNextPanel({ModalUI::kPanelOK, {folder.string()}});
        row->selectCameraFolder(nullptr);
    };
    const fs::path fresh = home_.makeFolder("Backup"), marked = home_.makeFolder("Archive of station 2");
    choose(fresh);
    const auto id = prefs().stringForKey(ArchiveDestination::kIdKey);
    ASSERT_TRUE(id);
    EXPECT_EQ(DestinationMarker::read(fresh).id, *id);
    EXPECT_TRUE(ArchiveDestination::locate().ready());

    std::string error;
    ASSERT_TRUE(DestinationMarker::write(marked, "0123456789ABCDEF0123456789ABCDEF", &error)) << error;
    choose(marked);
    EXPECT_EQ(prefs().stringForKey(ArchiveDestination::kIdKey), "0123456789ABCDEF0123456789ABCDEF");

    // A folder where the marker's record cannot be written: its name is taken by a folder of files.
    const fs::path blocked = home_.makeFolder("Blocked");
    home_.writeFile("Blocked/.tolv-archiver-destination/archive.plist/keep", "k");
    choose(blocked);
    ASSERT_EQ(dialogs_->alerts().size(), 1u);
    EXPECT_NE(dialogs_->alerts().back().informativeText.find("marker"), std::string::npos);
    EXPECT_EQ(prefs().objectForKey(pathKey), Value(marked.string()));
    EXPECT_EQ(prefs().stringForKey(ArchiveDestination::kIdKey), "0123456789ABCDEF0123456789ABCDEF");
}

TEST_F(SelectFolderNSViewControllerTest, AFolderAnotherSlotRulesOutIsRefusedWithAnAlertAndNothingStored) {
    prefs().setObject(key(0, sPrefCameraFolderPathKey), Value(home_.makeFolder("Backup").string()));
    prefs().setObject(key(2, sPrefCameraFolderPathKey), Value(home_.makeFolder("cardA/DCIM").string()));
    auto row = makeRow(1);
    const std::string pathKey = key(1, sPrefCameraFolderPathKey);
    const std::string before = home_.makeFolder("shoot/Main").string();
    prefs().setObject(pathKey, Value(before));
    auto* field = control<QLineEdit>(*row, "ibNSTextField");
    struct Case {
        const char* what;
        std::string path;
        bool typed;    // else chosen in the open panel
        const char* says; // a part of the alert's text
    } cases[] = {
        {"same name, chosen", home_.makeFolder("cardB/DCIM").string(), false, "For Web"},
        {"same name, typed", home_.makeFolder("cardC/DCIM").string(), true, "For Web"},
        {"inside the destination, typed", home_.makeFolder("Backup/x").string(), true, "Destination/Backup"},
        {"no such folder, typed", (root() / "nowhere").string(), true, "no folder"},
    };
    size_t alerts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.typed) {
            field->setText(QString::fromStdString(c.path));
            emit field->editingFinished();
        } else {
            dialogs_->answerNextPanel({ModalUI::kPanelOK, {c.path}});
            row->selectCameraFolder(nullptr);
        }
        ASSERT_EQ(dialogs_->alerts().size(), ++alerts);
        const ModalUI::Alert alert = dialogs_->alerts().back();
        EXPECT_EQ(alert.message, "This folder cannot be the Main Images folder");
        EXPECT_NE(alert.informativeText.find(c.says), std::string::npos) << alert.informativeText;
        EXPECT_EQ(prefs().objectForKey(pathKey), Value(before));
        EXPECT_EQ(field->text().toStdString(), before);
    }
}

TEST_F(SelectFolderNSViewControllerTest, ATypedPathIsStoredOnlyWhenEditingEnds) {
    auto row = makeRow(1);
    const std::string pathKey = key(1, sPrefCameraFolderPathKey);
    const auto before = home_.makeFolder("shoot/Main"), typed = home_.makeFolder("shoot/Other");
    prefs().setObject(pathKey, Value(before.string()));
    prefs().setBool(key(1, sPrefCameraFolderPathEnableKey), false);
    auto* field = control<QLineEdit>(*row, "ibNSTextField");
    // Keystroke by keystroke: "/" and every prefix stay unstored.
    field->clear();
    for (QChar ch : QString::fromStdString(typed.string())) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(field, &press);
    }
    ASSERT_EQ(field->text().toStdString(), typed.string());
    EXPECT_EQ(prefs().objectForKey(pathKey), Value(before.string()));
    emit field->editingFinished();
    EXPECT_EQ(prefs().objectForKey(pathKey), Value(typed.string()));
    EXPECT_TRUE(prefs().boolForKey(key(1, sPrefCameraFolderPathAliasDataIsValidKey)));
    std::string resolved;
    EXPECT_TRUE(MyAliasKit::resolveAliasFromData(prefs().objectForKey(key(1, sPrefCameraFolderPathAliasDataKey)).data(),
                                                 &resolved));
    EXPECT_EQ(resolved, fs::canonical(typed).string());
    EXPECT_FALSE(prefs().boolForKey(key(1, sPrefCameraFolderPathEnableKey))); // typing is not switching on
    EXPECT_TRUE(dialogs_->alerts().empty());
}

TEST_F(SelectFolderNSViewControllerTest, ARefusedPassShowsOnItsRowUntilTheNextPass) {
    auto row = makeRow(1);
    auto other = makeRow(2);
    auto watcher = row->_watcherObj();
    ASSERT_TRUE(watcher);
    auto post = [&](const std::string& name, UserInfo info) {
        info[kUserInfoWatcherObj] = watcher;
        postFromWorker(name, info);
        QCoreApplication::processEvents();
    };
    post(kWatcherPassRefused, {{kUserInfoReason, std::string("It has the same name.")}});
    EXPECT_NE(row->passRefusalShown().find("It has the same name."), std::string::npos);
    EXPECT_EQ(other->passRefusalShown(), "");
    post(kWatcherPassDidStart, {});
    EXPECT_EQ(row->passRefusalShown(), "");
}

TEST_F(SelectFolderNSViewControllerTest, CancelOddReturnCodeEmptyChoiceOrMissingContextStoreNothing) {
    auto row = makeRow(1);
    const auto folder = home_.makeFolder("photos");
    KeyWriteOrder writes({key(1, sPrefCameraFolderPathKey), key(1, sPrefCameraFolderPathAliasDataIsValidKey),
                          key(1, sPrefCameraFolderPathAliasDataKey), key(1, sPrefCameraFolderPathEnableKey)});
    StderrCapture log;
    dialogs_->answerNextPanel({ModalUI::kPanelCancel, {folder.string()}});
    row->selectCameraFolder(nullptr);
    dialogs_->answerNextPanel({7, {folder.string()}});
    row->selectCameraFolder(nullptr);
    dialogs_->answerNextPanel({ModalUI::kPanelOK, {}});
    row->selectCameraFolder(nullptr);
    row->openPanelDidEndNew(ModalUI::kPanelOK, {folder.string()}, nullptr);
    EXPECT_TRUE(writes.order().empty());
    EXPECT_TRUE(log.contains("openPanelDidEnd passed NIL for contextInfo??????"));
    EXPECT_TRUE(log.contains("openPanelDidEnd:returnCode:contextInfo returned NSCancelButton"));
    EXPECT_TRUE(log.contains("openPanelDidEnd:returnCode:contextInfo returned ?????"));
    EXPECT_EQ(dialogs_->panels()[0].directory, ""); // nothing stored: the panel picks its own start
    EXPECT_EQ(dialogs_->panels()[0].message, "Please Select The Main Images Folder:");
}

TEST_F(SelectFolderNSViewControllerTest, FolderWithoutAliasDataStillStoresPathValidityAndEnable) {
    const Value earlierAlias(Value::Data{9, 9, 9});
    prefs().setObject(key(2, sPrefCameraFolderPathAliasDataKey), earlierAlias);
    prefs().setBool(key(2, sPrefCameraFolderPathEnableKey), false);
    auto row = makeRow(2);
    const std::string gone = (root() / "never-made").string();
    dialogs_->answerNextPanel({ModalUI::kPanelOK, {gone}});
    row->selectCameraFolder(nullptr);
    EXPECT_EQ(prefs().objectForKey(key(2, sPrefCameraFolderPathKey)), Value(gone));
    EXPECT_TRUE(prefs().boolForKey(key(2, sPrefCameraFolderPathAliasDataIsValidKey)));
    EXPECT_TRUE(prefs().boolForKey(key(2, sPrefCameraFolderPathEnableKey)));
    EXPECT_EQ(prefs().objectForKey(key(2, sPrefCameraFolderPathAliasDataKey)), earlierAlias);
}

TEST_F(SelectFolderNSViewControllerTest, PanelEndingAfterItsRowWentStoresNothing) {
    // A panel that ends later than it began, as a real sheet does.
    struct LatePanel : ModalUI {
        PanelEnd end;
        int runAlert(const Alert&) override { return kDefaultReturn; }
        void beginOpenPanel(const OpenPanel&, PanelEnd e) override { end = std::move(e); }
        void beep() override {}
        void presentSheet(const Sheet&) override {}
    };
    auto late = std::make_shared<LatePanel>();
    ModalUI::setCurrent(late);
    auto row = makeRow(1);
    row->selectCameraFolder(nullptr);
    row.reset();
    ASSERT_TRUE(late->end);
    late->end(ModalUI::kPanelOK, {home_.makeFolder("x").string()});
    EXPECT_TRUE(prefs().objectForKey(key(1, sPrefCameraFolderPathKey)).isNone());
}

// ---- enable, reveal ------------------------------------------------------------

TEST_F(SelectFolderNSViewControllerTest, EnableBoxPostsStartAndStopWithItsIndex) {
    prefs().setBool(key(1, sPrefCameraFolderPathEnableKey), false);
    auto row = makeRow(1);
    PostRecorder posts({kWatcherDoStart, kWatcherDoStop});
    StderrCapture log;
    auto* box = control<QCheckBox>(*row, "ibNSButtonEnable");
    box->click();
    box->click();
    EXPECT_EQ(posts.posted(), (std::vector<std::pair<std::string, int>>{{kWatcherDoStart, 1}, {kWatcherDoStop, 1}}));
    EXPECT_TRUE(log.contains("SelectFolderNSViewController->ibToggleEnableButton... doEnable is TRUE........"));
    EXPECT_TRUE(log.contains("SelectFolderNSViewController->ibToggleEnableButton... doEnable is FALSE........"));
    EXPECT_FALSE(prefs().boolForKey(key(1, sPrefCameraFolderPathEnableKey)));
}

TEST_F(SelectFolderNSViewControllerTest, RevealOfAMissingFolderBeeps) {
    std::atomic<int> beeps{0};
    setSystemBeepHook([&] { ++beeps; });
    prefs().setObject(key(1, sPrefCameraFolderPathKey), Value((root() / "gone").string()));
    auto row = makeRow(1);
    auto* reveal = control<QToolButton>(*row, "ibNSButtonReveal");
    reveal->click();
    prefs().setInteger(key(1, sPrefCameraFolderPathKey), 3); // not even a path
    reveal->click();
    setSystemBeepHook(nullptr);
    EXPECT_EQ(beeps, 2);
}

TEST_F(SelectFolderNSViewControllerTest, RevealButtonCarriesBothImagesAtOneAndTwoTimesScale) {
    auto row = makeRow(1);
    auto* reveal = control<QToolButton>(*row, "ibNSButtonReveal");
    EXPECT_EQ(reveal->property("imageName").toString(), "RevealNormal");
    const QIcon icon = reveal->icon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(QSize(16, 16), 2.0, QIcon::Normal).width(), 32);
    EXPECT_NE(icon.pixmap(QSize(16, 16), 1.0, QIcon::Active).toImage(),
              icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage());
}

// ---- watcher feedback ----------------------------------------------------------

class RowIndicatorTest : public SelectFolderNSViewControllerTest {
protected:
    RowIndicatorTest() {
        // Each source row's watcher says "stopped" once it has set itself up, on its own loop:
        // that must not land in the middle of a test.
        std::atomic<int> settled{0};
        NotificationCenter::defaultCenter().addObserver(&settled, kWatcherDidStop, [&](const auto&) { ++settled; });
        for (int slot = 0; slot < CommonHeader::kSlotCount; ++slot) rows_.push_back(makeRow(slot));
        EXPECT_TRUE(testing_support::waitUntil([&] { return settled >= CommonHeader::kSlotCount - 1; }));
        NotificationCenter::defaultCenter().removeObserver(&settled);
        drainEvents();
    }
    std::vector<bool> spinning() const {
        std::vector<bool> states;
        for (const auto& row : rows_) states.push_back(row->indicatorIsAnimating());
        return states;
    }
    std::vector<std::unique_ptr<Row>> rows_;
};

TEST_F(RowIndicatorTest, StartFromAWatcherThreadReachesOnlyTheWatchersRow) {
    EXPECT_EQ(spinning(), (std::vector<bool>{false, false, false, false}));
    // The watcher decides, even when "index" names another row.
    postFromWorker(kWatcherPassDidStart, UserInfo{{kUserInfoWatcherObj, watcherOfSlot(2)}, {kUserInfoIndex, std::int32_t{1}}});
    EXPECT_FALSE(rows_[2]->indicatorIsAnimating()); // the watcher's thread left the widget alone
    EXPECT_TRUE(processEventsUntil([&] { return rows_[2]->indicatorIsAnimating(); }));
    drainEvents();
    EXPECT_EQ(spinning(), (std::vector<bool>{false, false, true, false}));

    postFromWorker(kWatcherPassDidStart, UserInfo{{kUserInfoIndex, std::int32_t{3}}});
    EXPECT_TRUE(processEventsUntil([&] { return rows_[3]->indicatorIsAnimating(); }));

    postFromWorker(kWatcherDidStop, UserInfo{{kUserInfoWatcherObj, watcherOfSlot(2)}});
    EXPECT_TRUE(processEventsUntil([&] { return !rows_[2]->indicatorIsAnimating(); }));
    EXPECT_EQ(spinning(), (std::vector<bool>{false, false, false, true}));
}

TEST_F(RowIndicatorTest, StartWithNeitherWatcherNorIndexStartsNone) {
    postFromWorker(kWatcherPassDidStart, UserInfo{});
    postFromWorker(kWatcherPassDidStart, std::nullopt);
    postFromWorker(kWatcherPassDidStart, UserInfo{{kUserInfoWatcherObj, std::shared_ptr<WatcherNSObject>()}, {kUserInfoIndex, std::int32_t{1}}});
    postFromWorker(kWatcherPassDidStart, UserInfo{{kUserInfoIndex, std::string("1")}});
    drainEvents();
    EXPECT_EQ(spinning(), (std::vector<bool>{false, false, false, false}));
}

TEST_F(RowIndicatorTest, OneStopAllStopsEveryRow) {
    for (int slot = 0; slot < CommonHeader::kSlotCount; ++slot)
        NotificationCenter::defaultCenter().post(kWatcherPassDidStart, nullptr, UserInfo{{kUserInfoIndex, std::int32_t(slot)}});
    EXPECT_TRUE(processEventsUntil([&] { return spinning() == std::vector<bool>{true, true, true, true}; }));
    postFromWorker(kWatcherDidStopAll, std::nullopt);
    EXPECT_TRUE(processEventsUntil([&] { return spinning() == std::vector<bool>{false, false, false, false}; }));
}

TEST_F(RowIndicatorTest, StartQueuedFromAThreadCannotUndoALaterStop) {
    postFromWorker(kWatcherPassDidStart, UserInfo{{kUserInfoIndex, std::int32_t{1}}});
    // The stop comes on the GUI thread before the queued start has been shown.
    NotificationCenter::defaultCenter().post(kWatcherDidStop, nullptr, UserInfo{{kUserInfoIndex, std::int32_t{1}}});
    drainEvents();
    EXPECT_FALSE(rows_[1]->indicatorIsAnimating());
}

TEST_F(RowIndicatorTest, RowGoingAwayWhileAWatcherThreadPostsIsSafe) {
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop)
            NotificationCenter::defaultCenter().post(kWatcherPassDidStart, nullptr, UserInfo{{kUserInfoIndex, std::int32_t{1}}});
    });
    ASSERT_TRUE(processEventsUntil([&] { return rows_[1]->indicatorIsAnimating(); }));
    rows_[1].reset();
    drainEvents();
    stop = true;
    poster.join();
    drainEvents();
    EXPECT_TRUE(rows_[0] && !rows_[0]->indicatorIsAnimating());
}

// ---- enabling the view -----------------------------------------------------------

TEST_F(SelectFolderNSViewControllerTest, DisablingTheViewSparesTheRevealButtonAndKeptControls) {
    auto row = makeRow(1);
    QWidget* view = row->view();
    auto* kept = new QPushButton("kept", view);
    kept->setProperty(view_tags::kTagProperty, view_tags::kKeepsEnabledState);
    auto* otherReveal = new QToolButton(view);
    otherReveal->setProperty(view_tags::kImageNameProperty, "downloadREVEAL");
    auto* nested = new QWidget(view);
    auto* nestedField = new QLineEdit(nested);
    auto* label = view->findChild<QLabel*>("labelStartingNumber");
    ASSERT_NE(label, nullptr);

    viewSetEnabled(view, false);
    drainEvents();
    for (const char* name : {"ibNSTextField", "ibNSButtonEnable", "ibNSTextFieldForImageNumber", "ibNSButtonChange"})
        EXPECT_FALSE(view->findChild<QWidget*>(name)->isEnabled()) << name;
    EXPECT_FALSE(nestedField->isEnabled());
    EXPECT_TRUE(control<QToolButton>(*row, "ibNSButtonReveal")->isEnabled());
    EXPECT_TRUE(otherReveal->isEnabled());
    EXPECT_TRUE(kept->isEnabled());
    EXPECT_EQ(label->palette().color(QPalette::Active, QPalette::WindowText),
              QApplication::palette(label).color(QPalette::Disabled, QPalette::WindowText));

    viewSetEnabled(view, true);
    drainEvents();
    EXPECT_TRUE(control<QLineEdit>(*row, "ibNSTextField")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>(*row, "ibNSButtonAliasIsValid")->isEnabled()); // display only, tagged -99
    EXPECT_EQ(label->palette().color(QPalette::Active, QPalette::WindowText),
              QApplication::palette(label).color(QPalette::Active, QPalette::WindowText));
    viewSetEnabled(nullptr, false);
}

TEST_F(SelectFolderNSViewControllerTest, EnableViewFromAThreadTakesEffectOnTheGuiThread) {
    auto row = makeRow(2);
    auto* field = control<QLineEdit>(*row, "ibNSTextField");
    postFromWorker(kEnableView, UserInfo{{kUserInfoDoEnable, std::string("NO")}});
    postFromWorker(kEnableView, std::nullopt);
    drainEvents();
    EXPECT_TRUE(field->isEnabled());
    postFromWorker(kEnableView, UserInfo{{kUserInfoDoEnable, false}});
    EXPECT_TRUE(processEventsUntil([&] { return !field->isEnabled(); }));
    postFromWorker(kEnableView, UserInfo{{kUserInfoDoEnable, std::int32_t{1}}});
    EXPECT_TRUE(processEventsUntil([&] { return field->isEnabled(); }));
}

// ---- look ------------------------------------------------------------------------

TEST_F(SelectFolderNSViewControllerTest, NarrowestRowClipsNoControlAndOverlapsNone) {
    prefs().setObject(key(3, sPrefCameraFolderPathEnableTitleStringKey), Value("Backup ComposedImagesFolder"));
    auto row = makeRow(3);
    QWidget* view = row->view();
    view->resize(view->minimumSizeHint());
    view->show();
    drainEvents();
    std::vector<QWidget*> controls;
    for (const char* name : {"ibNSButtonEnable", "ibNSProgressIndicator", "ibNSTextField", "ibNSButtonAliasIsValid",
                             "labelStartingNumber", "ibNSTextFieldForImageNumber", "ibNSButtonChange", "ibNSButtonReveal"})
        controls.push_back(view->findChild<QWidget*>(name));
    for (QWidget* c : controls) {
        // The busy bar is drawn at a fixed, smaller width than its kind asks for.
        if (c->objectName() != "ibNSProgressIndicator") {
            EXPECT_GE(c->width(), c->minimumSizeHint().width()) << c->objectName().toStdString();
        }
        EXPECT_TRUE(view->rect().contains(c->geometry())) << c->objectName().toStdString();
        for (QWidget* d : controls) {
            if (c == d) continue;
            EXPECT_FALSE(c->geometry().intersects(d->geometry())) << c->objectName().toStdString();
        }
    }
    EXPECT_EQ(view->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

} // namespace

// After a long pass of the per-file engine the row says how long it took and
// offers Fast archiving; its link switches it on once confirmed, and only then.
TEST_F(SelectFolderNSViewControllerTest, ALongPerFilePassOffersFastArchiving) {
    auto row = makeRow(1);
    auto* line = control<QLabel>(*row, "ibStateLine");
    auto passOf = [&](double seconds, bool fast) {
        PassResult result;
        result.ended = std::chrono::system_clock::now();
        result.seconds = seconds;
        result.fast = fast;
        NotificationCenter::defaultCenter().post(
            kWatcherPassEnded, nullptr, UserInfo{{kUserInfoIndex, std::int32_t{1}}, {kUserInfoPassResult, result}});
        drainEvents();
    };
    struct Case {
        double seconds;
        bool fast;
        bool hint;
    } cases[] = {{30, false, false}, {14 * 60, true, false}, {14 * 60, false, true}};
    for (const auto& c : cases) {
        passOf(c.seconds, c.fast);
        EXPECT_EQ(row->fastArchivingHint().has_value(), c.hint) << c.seconds << (c.fast ? " fast" : " per file");
    }
    EXPECT_NE(row->fastArchivingHint()->find("took 14 min"), std::string::npos);
    EXPECT_NE(row->stateLineShown().find("Use Fast archiving"), std::string::npos);

    dialogs_->answerNextAlert(ModalUI::kAlternateReturn); // Cancel
    emit line->linkActivated("fast");
    EXPECT_FALSE(prefs().boolForKey(kPrefUseBatchedSynchronization));
    emit line->linkActivated("fast");
    EXPECT_TRUE(prefs().boolForKey(kPrefUseBatchedSynchronization));
    EXPECT_FALSE(row->fastArchivingHint().has_value());
}
