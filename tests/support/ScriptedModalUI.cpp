#include "support/ScriptedModalUI.h"

namespace testing_support {

void ScriptedModalUI::answerNextAlert(int code) {
    std::lock_guard lock(mutex_);
    alertAnswers_.push_back(code);
}

void ScriptedModalUI::answerNextPanel(PanelAnswer answer) {
    std::lock_guard lock(mutex_);
    panelAnswers_.push_back(std::move(answer));
}

int ScriptedModalUI::runAlert(const Alert& alert) {
    std::lock_guard lock(mutex_);
    alerts_.push_back(alert);
    if (alertAnswers_.empty()) return kDefaultReturn;
    int code = alertAnswers_.front();
    alertAnswers_.pop_front();
    return code;
}

void ScriptedModalUI::beginOpenPanel(const OpenPanel& panel, PanelEnd end) {
    PanelAnswer answer{kPanelCancel, {}};
    {
        std::lock_guard lock(mutex_);
        panels_.push_back(panel);
        if (!panelAnswers_.empty()) {
            answer = panelAnswers_.front();
            panelAnswers_.pop_front();
        }
    }
    if (end) end(answer.returnCode, answer.paths);
}

void ScriptedModalUI::answerNextSheet(SheetAnswer answer) {
    std::lock_guard lock(mutex_);
    sheetAnswers_.push_back(std::move(answer));
}

void ScriptedModalUI::presentSheet(const Sheet& sheet) {
    std::optional<SheetAnswer> answer;
    {
        std::lock_guard lock(mutex_);
        shownSheets_.push_back(sheet);
        if (sheetAnswers_.empty()) return;
        answer = std::move(sheetAnswers_.front());
        sheetAnswers_.pop_front();
    }
    if (answer->before) answer->before();
    endSheet(sheet.sheet, answer->returnCode);
}

std::vector<ModalUI::Sheet> ScriptedModalUI::sheets() const {
    std::lock_guard lock(mutex_);
    return shownSheets_;
}

void ScriptedModalUI::beep() {
    std::lock_guard lock(mutex_);
    ++beeps_;
}

std::vector<ModalUI::Alert> ScriptedModalUI::alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}

std::vector<ModalUI::OpenPanel> ScriptedModalUI::panels() const {
    std::lock_guard lock(mutex_);
    return panels_;
}

int ScriptedModalUI::beeps() const {
    std::lock_guard lock(mutex_);
    return beeps_;
}

} // namespace testing_support
