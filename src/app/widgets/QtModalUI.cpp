#include "app/widgets/QtModalUI.h"

#include "platform/runtime/Log.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace {

bool onGuiThread() { return QThread::currentThread() == qApp->thread(); }

QWidget* parentFor(QWidget* window) { return window ? window : QApplication::activeWindow(); }

QPushButton* addButton(QMessageBox& box, const std::string& title, QMessageBox::ButtonRole role) {
    if (title.empty()) return nullptr;
    return box.addButton(QString::fromStdString(title), role);
}

QFileDialog::FileMode fileModeFor(const ModalUI::OpenPanel& panel) {
    if (panel.canChooseDirectories || !panel.canChooseFiles) return QFileDialog::Directory;
    return panel.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile;
}

std::vector<std::string> toStrings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}

} // namespace

int QtModalUI::runAlert(const Alert& alert) {
    if (!qApp) return kDefaultReturn;
    if (onGuiThread()) return runAlertOnGuiThread(alert);
    int code = kDefaultReturn;
    QMetaObject::invokeMethod(
        qApp, [&alert] { return runAlertOnGuiThread(alert); }, Qt::BlockingQueuedConnection, &code);
    return code;
}

int QtModalUI::runAlertOnGuiThread(const Alert& alert) {
    QMessageBox box(parentFor(alert.window));
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(QString::fromStdString(alert.message));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    QPushButton* defaultButton = addButton(box, alert.defaultButton.empty() ? "OK" : alert.defaultButton,
                                           QMessageBox::AcceptRole);
    QPushButton* alternate = addButton(box, alert.alternateButton, QMessageBox::RejectRole);
    QPushButton* other = addButton(box, alert.otherButton, QMessageBox::ActionRole);
    box.setDefaultButton(defaultButton);
    box.setEscapeButton(alternate ? alternate : defaultButton);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked && clicked == alternate) return kAlternateReturn;
    if (clicked && clicked == other) return kOtherReturn;
    return kDefaultReturn;
}

void QtModalUI::beginOpenPanel(const OpenPanel& panel, PanelEnd end) {
    if (!qApp) {
        if (end) end(kPanelCancel, {});
        return;
    }
    if (onGuiThread()) return openPanelOnGuiThread(panel, std::move(end));
    QMetaObject::invokeMethod(
        qApp, [panel, end = std::move(end)] { openPanelOnGuiThread(panel, end); }, Qt::QueuedConnection);
}

void QtModalUI::openPanelOnGuiThread(const OpenPanel& panel, PanelEnd end) {
    auto* dialog = new QFileDialog(parentFor(panel.window), QString::fromStdString(panel.message),
                                   QString::fromStdString(panel.directory));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFileMode(fileModeFor(panel));
    dialog->setOption(QFileDialog::ShowDirsOnly, !panel.canChooseFiles);
    dialog->setOption(QFileDialog::ReadOnly, !panel.canCreateDirectories);
    if (!panel.prompt.empty()) dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(panel.prompt));
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, end](int result) {
        if (!end) return;
        if (result == QDialog::Accepted) end(kPanelOK, toStrings(dialog->selectedFiles()));
        else end(kPanelCancel, {});
    });
    dialog->open();
}

void QtModalUI::presentSheet(const Sheet& sheet) {
    QWidget* widget = sheet.sheet;
    QMetaObject::invokeMethod(
        widget,
        [widget] {
            widget->setWindowModality(Qt::WindowModal);
            widget->show();
            widget->raise();
            widget->activateWindow();
        },
        onGuiThread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

void QtModalUI::beep() {
    if (!qApp) {
        platform::log("Beep (no application object)");
        return;
    }
    QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
}
