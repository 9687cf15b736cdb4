// The real dialogs, answered by clicking their buttons as a person would.

#include "app/widgets/QtModalUI.h"
#include "support/QtTestApp.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using testing_support::processEventsUntil;

namespace {

// Clicks the button with this title in the alert on screen, once it is up.
void clickWhenShown(const QString& title) {
    QTimer::singleShot(0, qApp, [title] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == title) return b->click();
        }
        clickWhenShown(title); // not up yet
    });
}

ModalUI::Alert busyAlert() {
    ModalUI::Alert alert;
    alert.message = "WARNING: APP is Busy Archiving !!!!";
    alert.informativeText = "Are You Sure?";
    alert.defaultButton = "NO";
    alert.alternateButton = "Force Terminate";
    alert.otherButton = "Later";
    return alert;
}

class QtModalUITest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::qtTestApp(); }
    QtModalUI ui;
};

TEST_F(QtModalUITest, AlertButtonsAnswerWithTheLegacyCodes) {
    clickWhenShown("NO");
    EXPECT_EQ(ui.runAlert(busyAlert()), ModalUI::kDefaultReturn);
    clickWhenShown("Force Terminate");
    EXPECT_EQ(ui.runAlert(busyAlert()), ModalUI::kAlternateReturn);
    clickWhenShown("Later");
    EXPECT_EQ(ui.runAlert(busyAlert()), ModalUI::kOtherReturn);
}

TEST_F(QtModalUITest, AnAlertAskedForOnAnotherThreadRunsOnTheGuiThread) {
    int code = -100;
    std::thread asker([&] { code = ui.runAlert(busyAlert()); });
    clickWhenShown("Force Terminate");
    EXPECT_TRUE(processEventsUntil([&] { return code != -100; }));
    asker.join();
    EXPECT_EQ(code, ModalUI::kAlternateReturn);
}

TEST_F(QtModalUITest, FolderPanelIsAWindowModalSheetThatReportsItsEnd) {
    testing_support::TempHome home;
    const auto folder = home.makeFolder("Shoot/Main");
    QWidget window;
    window.show();
    ModalUI::OpenPanel panel;
    panel.message = "Please Select The Main Images Folder:";
    panel.prompt = "Select";
    panel.directory = folder.parent_path().string();
    panel.window = &window;

    std::vector<std::pair<int, std::vector<std::string>>> ends;
    auto end = [&](int code, const std::vector<std::string>& paths) { ends.push_back({code, paths}); };
    ui.beginOpenPanel(panel, end); // returns at once
    auto* dialog = window.findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(dialog->windowTitle().toStdString(), panel.message);
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept).toStdString(), "Select");
    dialog->selectFile(QString::fromStdString(folder.string()));
    QMetaObject::invokeMethod(dialog, "accept");

    ui.beginOpenPanel(panel, end);
    ASSERT_TRUE(processEventsUntil([&] { return window.findChildren<QFileDialog*>().size() == 1; }));
    window.findChild<QFileDialog*>()->reject();

    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0].first, ModalUI::kPanelOK);
    EXPECT_EQ(ends[0].second, std::vector<std::string>{folder.string()});
    EXPECT_EQ(ends[1].first, ModalUI::kPanelCancel);
    EXPECT_TRUE(ends[1].second.empty());
}

TEST_F(QtModalUITest, ASheetShowsWindowModalOnceAndEndsOnceWithItsCode) {
    QWidget window;
    window.show();
    QDialog sheet(&window);
    std::vector<int> ends;
    ui.beginSheet({&sheet, &window, "set-time sheet"}, [&](int code) { ends.push_back(code); });
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    // Beginning it again while it shows changes nothing.
    ui.beginSheet({&sheet, &window, "set-time sheet"}, [&](int) { ends.push_back(-1); });
    EXPECT_TRUE(ui.endSheet(&sheet, ModalUI::kSheetConfirm));
    EXPECT_FALSE(ui.endSheet(&sheet, ModalUI::kSheetCancel)) << "a sheet ends once";
    EXPECT_EQ(ends, std::vector<int>{ModalUI::kSheetConfirm});
}

} // namespace
