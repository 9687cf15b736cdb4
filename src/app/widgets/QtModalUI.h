#pragma once
// The dialogs of a run with a display: QMessageBox alerts that answer with
// the legacy return codes, a window-modal folder dialog as the open panel,
// window-modal sheets, and the desktop's beep. Callable from any thread; the dialogs themselves
// always run on the GUI thread.

#include "dialogs/ModalUI.h"

class QtModalUI : public ModalUI {
public:
    int runAlert(const Alert& alert) override;
    void beginOpenPanel(const OpenPanel& panel, PanelEnd end) override;
    void beep() override;

protected:
    // Window-modal on its window; its buttons and its rejection end it.
    void presentSheet(const Sheet& sheet) override;

private:
    static int runAlertOnGuiThread(const Alert& alert);
    static void openPanelOnGuiThread(const OpenPanel& panel, PanelEnd end);
};
