#include "log/TraceOutput.h"
#include "core/Settings.h"

#include "core/CommonHeader.h"
#include "log/OVLogFileManager.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/StandardError.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> gVerbose{false};
std::mutex gFollowMutex; // a change from two threads opens one file

} // namespace

void TraceOutput::forCommand(bool verbose) { platform::setLogWritten(verbose); }

void TraceOutput::forApplication(bool verbose) {
    gVerbose = verbose;
    // The start's own decision opens the file (AppDelegate::initialize):
    // only the user's choice counts, and it is logged where standard error went.
    platform::setLogWritten(verbose || !platform::StandardError::wasTerminal() ||
                            Settings::storedByUser(kPrefDoSaveLogs).toBool());
    // Only the user's own choice counts: registering the factory defaults
    // notifies too, and must not switch the log file on by itself.
    Settings::observe(kPrefDoSaveLogs, [] { follow(Settings::storedByUser(kPrefDoSaveLogs).toBool()); });
}

void TraceOutput::follow(bool saveLogs) {
    std::lock_guard lock(gFollowMutex);
    const bool open = !OVLogFileManager::currentLogFile().empty();
    if (saveLogs) {
        platform::setLogWritten(true);
        if (!open) OVLogFileManager::setupLogFile();
        return;
    }
    if (open) OVLogFileManager::closeLogFile();
    platform::setLogWritten(gVerbose || !platform::StandardError::wasTerminal());
}
