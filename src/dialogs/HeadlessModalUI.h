#pragma once
// Dialogs of a run without a display: each is logged and answered with its
// default button; an open panel and a sheet are cancelled, since nobody
// can choose.

#include "dialogs/ModalUI.h"

class HeadlessModalUI : public ModalUI {
public:
    int runAlert(const Alert& alert) override;
    void beginOpenPanel(const OpenPanel& panel, PanelEnd end) override;
    void beep() override;

protected:
    void presentSheet(const Sheet& sheet) override;
};
