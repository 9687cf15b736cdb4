#include "dialogs/HeadlessModalUI.h"

#include "platform/runtime/Log.h"

using platform::logf;

int HeadlessModalUI::runAlert(const Alert& alert) {
    logf("Alert (no display, answered \"%s\"): %s\n%s", alert.defaultButton.c_str(), alert.message.c_str(),
         alert.informativeText.c_str());
    return kDefaultReturn;
}

void HeadlessModalUI::beginOpenPanel(const OpenPanel& panel, PanelEnd end) {
    logf("Open panel (no display, cancelled): %s", panel.message.c_str());
    if (end) end(kPanelCancel, {});
}

void HeadlessModalUI::beep() { platform::log("Beep (no display)"); }

void HeadlessModalUI::presentSheet(const Sheet& sheet) {
    logf("Sheet (no display, cancelled): %s", sheet.name.c_str());
    endSheet(sheet.sheet, kSheetCancel);
}
