#include "dialogs/ModalUI.h"

#include "dialogs/HeadlessModalUI.h"

#include <mutex>

namespace {

std::mutex gMutex;
std::shared_ptr<ModalUI> gCurrent;

} // namespace

ModalUI& ModalUI::current() {
    std::lock_guard lock(gMutex);
    if (!gCurrent) gCurrent = std::make_shared<HeadlessModalUI>();
    return *gCurrent;
}

void ModalUI::beginSheet(const Sheet& sheet, SheetEnd end) {
    {
        std::lock_guard lock(sheetsMutex_);
        if (!sheet.sheet || !sheets_.emplace(sheet.sheet, std::move(end)).second) return;
    }
    presentSheet(sheet);
}

bool ModalUI::endSheet(QWidget* sheet, int returnCode) {
    SheetEnd end;
    {
        std::lock_guard lock(sheetsMutex_);
        auto found = sheets_.find(sheet);
        if (found == sheets_.end()) return false;
        end = std::move(found->second);
        sheets_.erase(found);
    }
    if (end) end(returnCode);
    return true;
}

void ModalUI::setCurrent(std::shared_ptr<ModalUI> ui) {
    std::lock_guard lock(gMutex);
    gCurrent = std::move(ui);
}
