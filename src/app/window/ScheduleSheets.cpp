#include "app/window/ScheduleSheets.h"

#include "app/lifecycle/AppDelegate.h"
#include "core/CommonHeader.h"
#include "dialogs/ModalUI.h"
#include "platform/qt/QtPreferenceBinding.h"

#include "ui_RemoveScheduleSheet.h"
#include "ui_SetTimeSheet.h"

#include <QPushButton>

ScheduleSheets::ScheduleSheets(QWidget* window, AppDelegate* delegate)
    : QObject(window), setTimeUi_(std::make_unique<Ui::SetTimeSheet>()),
      removeScheduleUi_(std::make_unique<Ui::RemoveScheduleSheet>()), setTime_(new QDialog(window)),
      removeSchedule_(new QDialog(window)) {
    setTimeUi_->setupUi(setTime_);
    removeScheduleUi_->setupUi(removeSchedule_);
    platform::QtPreferenceBinding::bindTime(setTimeUi_->timeEdit, kPrefTempTime);
    connectButtons(setTime_, delegate);
    connectButtons(removeSchedule_, delegate);
    delegate->setIbSetTimeWindow(setTime_);
    delegate->setIbDisableTimeWindow(removeSchedule_);
}

ScheduleSheets::~ScheduleSheets() = default;

void ScheduleSheets::connectButtons(QDialog* sheet, AppDelegate* delegate) {
    for (QPushButton* button : sheet->findChildren<QPushButton*>())
        connect(button, &QPushButton::clicked, sheet, [delegate, button] { delegate->closeMyCustomSheet(button); });
    // Escape or the window's close button cancel.
    connect(sheet, &QDialog::rejected, sheet, [sheet] { ModalUI::current().endSheet(sheet, ModalUI::kSheetCancel); });
}
