#pragma once
// Answers the application's dialogs from a script instead of a person, and
// records what was shown. Install it with ModalUI::setCurrent.

#include "dialogs/ModalUI.h"

#include <deque>
#include <mutex>
#include <optional>

namespace testing_support {

class ScriptedModalUI : public ModalUI {
public:
    struct PanelAnswer {
        int returnCode = kPanelOK;
        std::vector<std::string> paths;
    };

    struct SheetAnswer {
        int returnCode = kSheetCancel;
        std::function<void()> before; // what the person does in the sheet first
    };

    // Answers used in order; without one, alerts take their default button,
    // panels are cancelled and sheets stay open until endSheet.
    void answerNextAlert(int code);
    void answerNextPanel(PanelAnswer answer);
    void answerNextSheet(SheetAnswer answer);

    int runAlert(const Alert& alert) override;
    void beginOpenPanel(const OpenPanel& panel, PanelEnd end) override;
    void beep() override;

    std::vector<Alert> alerts() const;
    std::vector<OpenPanel> panels() const;
    std::vector<Sheet> sheets() const;
    int beeps() const;

protected:
    void presentSheet(const Sheet& sheet) override;

private:
    mutable std::mutex mutex_;
    std::deque<int> alertAnswers_;
    std::deque<PanelAnswer> panelAnswers_;
    std::vector<Alert> alerts_;
    std::vector<OpenPanel> panels_;
    std::deque<SheetAnswer> sheetAnswers_;
    std::vector<Sheet> shownSheets_;
    int beeps_ = 0;
};

} // namespace testing_support
