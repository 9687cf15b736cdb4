#pragma once
// The two sheets of the daily schedule, from resources/SetTimeSheet.ui and
// resources/RemoveScheduleSheet.ui: the set-time sheet's time control is
// bound to the edited time, and every button ends its sheet with its "tag"
// through the delegate, as the main window's sheets do.

#include <QDialog>
#include <QObject>

#include <memory>

class AppDelegate;
namespace Ui {
class SetTimeSheet;
class RemoveScheduleSheet;
}

class ScheduleSheets : public QObject {
    Q_OBJECT
public:
    // The sheets belong to the window; the delegate gets them as outlets.
    ScheduleSheets(QWidget* window, AppDelegate* delegate);
    ~ScheduleSheets() override;

    QDialog* setTimeSheet() const { return setTime_; }
    QDialog* removeScheduleSheet() const { return removeSchedule_; }

private:
    void connectButtons(QDialog* sheet, AppDelegate* delegate);

    std::unique_ptr<Ui::SetTimeSheet> setTimeUi_;
    std::unique_ptr<Ui::RemoveScheduleSheet> removeScheduleUi_;
    QDialog* setTime_;
    QDialog* removeSchedule_;
};
