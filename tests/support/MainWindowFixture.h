#pragma once
// The application as its process entry puts it together, in the test
// process: a temporary home with the factory defaults registered, Qt's
// loop as the main loop, dialogs answered by a script, and the main window
// with its delegate. Only widget tests (tests/app, tests/e2e) include this.

#include "app/lifecycle/AppDelegate.h"
#include "app/window/MainWindow.h"
#include "dialogs/ModalUI.h"
#include "folders/SelectFolderNSViewController.h"
#include "platform/qt/QtMainLoop.h"
#include "platform/preferences/UserDefaults.h"
#include "support/QtTestApp.h"
#include "support/ScriptedModalUI.h"
#include "support/TempHome.h"
#include "core/TolvExtras.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class MainWindowFixture : public ::testing::Test {
protected:
    TempHome home;
    std::shared_ptr<ScriptedModalUI> dialogs = std::make_shared<ScriptedModalUI>();
    std::shared_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWindow> window;

    static platform::UserDefaults& prefs() { return platform::UserDefaults::standard(); }

    void SetUp() override {
        // The bundle's resources (factory defaults, row images) are found
        // through TOLV_BUNDLE_PATH; a runner that did not pass it gets the
        // bundle of this build.
        setenv("TOLV_BUNDLE_PATH", TOLV_TEST_BUNDLE_PATH, 0);
        qtTestApp();
        platform::QtMainLoop::install();
        ModalUI::setCurrent(dialogs);
        setSystemBeepHook([] { ModalUI::current().beep(); });
        ASSERT_TRUE(AppDelegate::setupFactoryDefaults()) << "TOLV_BUNDLE_PATH must name the built bundle";
        // Passes must copy on a nearly full test disk too; the floor has tests of its own.
        prefs().setInteger("prefMinimumFreeSpaceMB", 0);
    }

    void TearDown() override {
        window.reset();
        delegate.reset();
        drainEvents();
        setSystemBeepHook(nullptr);
        ModalUI::setCurrent(nullptr);
        platform::QtMainLoop::uninstall();
    }

    // The main interface loaded: delegate made and outlets connected.
    void loadWindow(std::vector<std::string> arguments = {"Tolv-Archiver"}) {
        delegate = AppDelegate::create();
        delegate->setArguments(std::move(arguments));
        window = std::make_unique<MainWindow>(delegate);
    }

    // The whole launch, as the process entry runs it.
    void launch(std::vector<std::string> arguments = {"Tolv-Archiver"}) {
        loadWindow(std::move(arguments));
        delegate->awakeFromNib();
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
        window->show();
        drainEvents();
    }

    SelectFolderNSViewController& row(int slot) const { return *delegate->rows().at(static_cast<size_t>(slot)); }
    QAbstractButton* rowButton(int slot, const char* name) const {
        return row(slot).view()->findChild<QAbstractButton*>(name);
    }

    // Chooses the folder of a slot the way the user does: the row's change
    // button, with the panel answered by the script.
    void chooseThroughPanel(int slot, const std::filesystem::path& folder) {
        dialogs->answerNextPanel({ModalUI::kPanelOK, {folder.string()}});
        rowButton(slot, "ibNSButtonChange")->click();
        drainEvents();
    }
};

} // namespace testing_support
