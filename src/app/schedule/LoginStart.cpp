#include "app/schedule/LoginStart.h"

#include "platform/desktop/Autostart.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/Log.h"

namespace LoginStart {

namespace {

platform::Autostart entry() { return platform::Autostart("tolv-archiver.desktop"); }

} // namespace

bool isOn() { return entry().enabled(); }

bool set(bool on, std::string* error) {
    const auto program = platform::Bundle::main().executableFolder() / TOLV_APP_NAME;
    const bool done = on ? entry().enable(TOLV_APP_NAME, {program.string(), "--start-all"}, error)
                         : entry().disable(error);
    if (done) platform::logf("Start at login %s: %s", on ? "on" : "off", entry().file().c_str());
    return done;
}

} // namespace LoginStart
