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

void ModalUI::setCurrent(std::shared_ptr<ModalUI> ui) {
    std::lock_guard lock(gMutex);
    gCurrent = std::move(ui);
}
