#include "app/status/DestinationReport.h"

#include "core/CommonHeader.h"
#include "core/PreferencesHealth.h"
#include "core/RemoteArchive.h"
#include "core/Settings.h"
#include "pass/DestinationCheck.h"

namespace {

std::string megabytes(std::uintmax_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MB"; }

// A folder on this machine: what a pass's look finds, writing nothing.
DestinationReport::Result local(const std::string& path) {
    const DestinationState state = DestinationCheck::inspect();
    DestinationReport::Result result{state.ready(), "destination: " + path + "\n"};
    if (state.ready()) {
        result.text += "state: ready\n";
        if (state.freeBytes) result.text += "free space: " + megabytes(*state.freeBytes) + "\n";
    } else {
        result.text += "state: " + state.problem + " (" + state.detail + ")\n";
    }
    return result;
}

} // namespace

DestinationReport::Result DestinationReport::check() {
    if (const std::string lost = PreferencesHealth::problem(); !lost.empty()) return {false, lost + "\n"};
    const std::string path = Settings::folder(CommonHeader::kDestinationSlot).path.value_or("");
    if (path.empty()) return {false, "no destination folder is chosen\n"};
    if (!RemoteDestination::looksRemote(path)) return local(path);
    std::string why;
    const auto remote = RemoteDestination::parse(path, &why);
    if (!remote) return {false, "destination: " + path + "\nstate: " + why + "\n"};
    // The user asks now: no back-off holds this look.
    RemoteArchive::resetBackOff();
    const auto report = RemoteArchive::check(*remote);
    Result result{report.ok, report.text};
    if (!report.ok) return result;
    const DestinationState state = DestinationCheck::inspect();
    result.text += "archive: " + (state.ready() ? std::string("marked as the chosen one") : state.problem) + "\n";
    result.ok = state.ready();
    return result;
}
