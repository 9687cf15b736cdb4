#include "core/RemoteArchive.h"
#include "core/Settings.h"

#include "core/ArchiveOwners.h"
#include "core/DestinationMarker.h"
#include "platform/remote/SecureShell.h"
#include "platform/runtime/Log.h"

#include <algorithm>
#include <map>
#include <cmath>
#include <mutex>
#include <random>

using platform::SecureShell;

const std::string RemoteArchive::kStationIdKey = "prefStationID";

namespace {

const std::string kUnreachable = "server unreachable";
const std::string kLoginRefused = "login refused";
const std::string kNotResponding = "server not responding";

std::string q(const std::string& word) { return SecureShell::quoted(word); }

// The script's answers: "key value" lines, and after "marker present" the
// marker's record as it is.
struct Answer {
    std::map<std::string, std::string> lines;
    std::string record;
    std::string get(const std::string& key) const {
        auto it = lines.find(key);
        return it == lines.end() ? "" : it->second;
    }
};

Answer parsed(const std::string& output) {
    Answer answer;
    std::size_t at = 0;
    while (at < output.size()) {
        const auto end = output.find('\n', at);
        const std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? output.size() : end + 1;
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space);
        answer.lines[key] = space == std::string::npos ? "" : line.substr(space + 1);
        if (line == "marker present") {
            answer.record = output.substr(at);
            break;
        }
    }
    return answer;
}

std::string markerFolder(const RemoteDestination& d) { return d.path + "/" + DestinationMarker::kFolderName; }

// Looks first at the folder, its write access and free space, then claims
// the archive folder (only in the archive this station chose), then prints
// the marker last, since its record runs to the end.
std::string lookScript(const RemoteDestination& d, const std::string& expectedId,
                       const std::optional<RemoteArchive::Claim>& claim) {
    std::string s = "p=" + q(d.path) + "; m=" + q(markerFolder(d)) + "\n";
    s += "if [ ! -d \"$p\" ]; then echo 'folder absent'; exit 0; fi\n";
    s += "echo 'folder present'\n";
    s += "if [ -w \"$p\" ]; then echo 'writable yes'; else echo 'writable no'; fi\n";
    s += "echo \"avail $(df -Pk \"$p\" 2>/dev/null | awk 'NR==2 {print $4}')\"\n";
    if (claim && !expectedId.empty()) {
        const std::string record = ArchiveOwners::record(claim->slot);
        s += "o=\"$m/owners/\"" + q(claim->archiveName) + "\n";
        s += "if grep -qF " + q("<string>" + expectedId + "</string>") + " \"$m/" + DestinationMarker::kRecordName +
             "\" 2>/dev/null && mkdir -p \"$m/owners\"; then\n";
        // O_EXCL: of two stations claiming at once, one wins.
        s += "  ( set -C; printf '%s\\n' " + q(record) + " > \"$o\" ) 2>/dev/null\n";
        s += "  echo \"owner $(head -n 1 \"$o\" 2>/dev/null)\"\n";
        s += "fi\n";
    }
    s += "if [ -L \"$m\" ] || { [ -e \"$m\" ] && [ ! -d \"$m\" ]; }; then echo 'marker notafolder'\n";
    s += "elif [ -f \"$m/" + DestinationMarker::kRecordName + "\" ]; then echo 'marker present'; head -c 65537 \"$m/" +
         DestinationMarker::kRecordName + "\"\n";
    s += "else echo 'marker absent'; fi\n";
    return s;
}

std::string connectionProblem(const SecureShell::Result& result) {
    const std::string reason = SecureShell::failureReason(result);
    if (!reason.empty()) return reason;
    return kUnreachable + ": the server's shell ended with status " + std::to_string(result.status) +
           (result.errors.empty() ? "" : " (" + result.errors.substr(0, result.errors.find('\n')) + ")");
}

DestinationState problem(const RemoteDestination& d, const std::string& problem, const std::string& why = "") {
    return {d.text(), problem, d.text() + ": " + (why.empty() ? problem : why), std::nullopt, {}};
}

std::optional<std::uintmax_t> kilobytes(const std::string& text) {
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), ::isdigit)) return std::nullopt;
    return std::stoull(text) * 1024;
}

std::optional<std::string> claimProblem(const Answer& answer, const RemoteArchive::Claim& claim) {
    const std::string owner = answer.get("owner");
    if (!ArchiveOwners::namesAStation(owner))
        return ArchiveOwners::kClaimed + ": \"" + claim.archiveName + "\" on the server could not be recorded as this station's";
    return ArchiveOwners::heldByAnother(owner, claim.archiveName, "on the server");
}

DestinationState judged(const RemoteDestination& d, const Answer& answer, const std::string& expectedId,
                        const std::optional<RemoteArchive::Claim>& claim) {
    if (answer.get("folder") != "present")
        return problem(d, ArchiveDestination::kMissing, "there is no such folder on the server");
    const std::string marker = answer.get("marker");
    if (marker == "notafolder")
        return problem(d, ArchiveDestination::kForeign, DestinationMarker::kFolderName + " is not a folder");
    if (marker != "present")
        return problem(d, ArchiveDestination::kForeign,
                       "no " + DestinationMarker::kFolderName + " in it; choose it again if it is the archive");
    const auto reading = DestinationMarker::fromRecord(answer.record, d.text() + " marker");
    if (reading.kind != DestinationMarker::Reading::Kind::Present)
        return problem(d, ArchiveDestination::kForeign, reading.reason);
    if (reading.id != expectedId)
        return problem(d, ArchiveDestination::kForeign,
                       "its marker names archive " + reading.id + ", not " +
                           (expectedId.empty() ? std::string("the chosen one") : expectedId));
    if (claim)
        if (auto why = claimProblem(answer, *claim)) return problem(d, *why);
    return {d.text(), "", "", kilobytes(answer.get("avail")), {}};
}

// The back-off after failed looks, for the destination they were of.
struct BackOff {
    std::mutex mutex;
    std::string destination;
    int failures = 0;
    std::chrono::steady_clock::time_point next;
    DestinationState last;
};

BackOff& backOff() {
    static BackOff b;
    return b;
}

// Give or take a fifth: stations that lost one server together do not all
// try it again in the same second.
std::chrono::seconds withJitter(std::chrono::seconds wait) {
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> share(0.8, 1.2);
    return std::chrono::seconds(std::max<long long>(1, std::llround(static_cast<double>(wait.count()) * share(random))));
}

std::optional<DestinationState> waiting(const RemoteDestination& d) {
    BackOff& b = backOff();
    std::lock_guard lock(b.mutex);
    if (b.destination != d.text() || b.failures == 0 || std::chrono::steady_clock::now() >= b.next) return std::nullopt;
    return b.last;
}

void note(const RemoteDestination& d, const DestinationState& state) {
    BackOff& b = backOff();
    std::lock_guard lock(b.mutex);
    if (b.destination != d.text()) {
        b.destination = d.text();
        b.failures = 0;
    }
    if (!RemoteArchive::isConnectionProblem(state.problem)) {
        b.failures = 0;
        return;
    }
    const auto step = std::chrono::duration_cast<std::chrono::seconds>(RemoteArchive::kLongestBackOff);
    const auto wait = withJitter(std::min<std::chrono::seconds>(RemoteArchive::kFirstBackOff * (1LL << std::min(b.failures, 10)), step));
    b.failures += 1;
    b.next = std::chrono::steady_clock::now() + wait;
    b.last = state;
    platform::logf("%s: %s; next try in %lld s", d.text().c_str(), state.problem.c_str(),
                   static_cast<long long>(wait.count()));
}

} // namespace

bool RemoteArchive::isConnectionProblem(const std::string& problem) {
    return problem.starts_with(kUnreachable) || problem.starts_with(kLoginRefused) || problem == kNotResponding;
}

bool RemoteArchive::isClaimProblem(const std::string& problem) { return problem.starts_with(ArchiveOwners::kClaimed); }

DestinationState RemoteArchive::locate(const RemoteDestination& destination, const std::string& expectedId,
                                       const std::optional<Claim>& claim) {
    if (auto last = waiting(destination)) return *last;
    const auto result = SecureShell::run(destination.login, lookScript(destination, expectedId, claim), "", kBound);
    DestinationState state = result.started && result.status == 0 && !result.timedOut
                                 ? judged(destination, parsed(result.output), expectedId, claim)
                                 : problem(destination, connectionProblem(result));
    note(destination, state);
    return state;
}

ArchiveDestination::Marking RemoteArchive::mark(const RemoteDestination& d) {
    const std::string record = DestinationMarker::kRecordName;
    auto result = SecureShell::run(d.login, lookScript(d, "", std::nullopt), "", kBound);
    if (!result.started || result.status != 0 || result.timedOut) return {"", connectionProblem(result)};
    const Answer answer = parsed(result.output);
    if (answer.get("folder") != "present") return {"", "There is no folder " + d.path + " on the server."};
    if (answer.get("marker") == "present") {
        const auto reading = DestinationMarker::fromRecord(answer.record, d.text());
        if (reading.kind == DestinationMarker::Reading::Kind::Present) return {reading.id, ""};
    }
    // A link or a file in the marker's place is a damaged marker: it goes,
    // as the user chose this folder.
    const std::string id = DestinationMarker::newId();
    const std::string write = "m=" + q(markerFolder(d)) + "\n" +
                              "if [ -L \"$m\" ] || { [ -e \"$m\" ] && [ ! -d \"$m\" ]; }; then rm -f \"$m\"; fi\n" +
                              "mkdir -p \"$m\" && cat > \"$m/" + record + ".new\" && mv -f \"$m/" + record +
                              ".new\" \"$m/" + record + "\"\n";
    result = SecureShell::run(d.login, write, DestinationMarker::record(id), kBound);
    if (!result.started || result.status != 0 || result.timedOut) {
        const std::string why = SecureShell::failureReason(result);
        return {"", "The archive's marker (" + DestinationMarker::kFolderName + ") cannot be written on the server: " +
                        (why.empty() ? result.errors.substr(0, result.errors.find('\n')) : why)};
    }
    platform::logf("The destination %s is marked as the archive %s", d.text().c_str(), id.c_str());
    return {id, ""};
}

bool RemoteArchive::flush(const RemoteDestination& d, std::string* why) {
    const auto result = SecureShell::run(d.login, "sync -f " + q(d.path) + " 2>/dev/null || sync", "", kBound);
    if (result.started && result.status == 0 && !result.timedOut) return true;
    if (why) *why = connectionProblem(result);
    return false;
}

RemoteArchive::Report RemoteArchive::check(const RemoteDestination& d) {
    Report report;
    const std::string script = "p=" + q(d.path) + "\n" +
                               "echo \"rsync $(rsync --version 2>/dev/null | head -n 1)\"\n" +
                               "if [ ! -d \"$p\" ]; then echo 'folder absent'; exit 0; fi\n" +
                               "echo 'folder present'\n" + "t=\"$p/.tolv-archiver-write-test.$$\"\n" +
                               "if ( : > \"$t\" ) 2>/dev/null; then rm -f \"$t\"; echo 'writable yes'; " +
                               "else echo 'writable no'; fi\n" +
                               "echo \"avail $(df -Pk \"$p\" 2>/dev/null | awk 'NR==2 {print $4}')\"\n";
    const auto key = SecureShell::identityFor(d.login);
    std::string& out = report.text;
    out += "destination: " + d.text() + "\n";
    out += "key: " + key.value_or("none found (ssh offers no identity file)") + "\n";
    const auto result = SecureShell::run(d.login, script, "", kBound);
    if (!result.started || result.status != 0 || result.timedOut) {
        out += "connection: " + connectionProblem(result) + "\n";
        return report;
    }
    out += "connection: ok, login accepted\n";
    const Answer answer = parsed(result.output);
    const std::string rsync = answer.get("rsync");
    out += "rsync on the server: " + (rsync.empty() ? std::string("not found") : rsync) + "\n";
    const bool present = answer.get("folder") == "present";
    out += "folder: " + std::string(present ? "present" : "absent") + "\n";
    if (present) {
        out += "write access: " + answer.get("writable") + "\n";
        const auto free = kilobytes(answer.get("avail"));
        out += "free space: " + (free ? std::to_string(*free / (1024 * 1024)) + " MB" : std::string("unknown")) + "\n";
    }
    report.ok = present && answer.get("writable") == "yes" && !rsync.empty();
    return report;
}

std::string RemoteArchive::stationId() {
    if (auto id = Settings::storedString(kStationIdKey); id && !id->empty()) return *id;
    // Made once, so a renamed machine is still the same station.
    static std::mutex making;
    std::lock_guard lock(making);
    if (auto id = Settings::storedString(kStationIdKey); id && !id->empty()) return *id;
    const std::string id = DestinationMarker::newId();
    Settings::store(kStationIdKey, platform::Value(id));
    Settings::save();
    return id;
}

std::optional<std::chrono::system_clock::time_point> RemoteArchive::nextTry() {
    BackOff& b = backOff();
    std::lock_guard lock(b.mutex);
    const auto now = std::chrono::steady_clock::now();
    if (b.failures == 0 || b.next <= now) return std::nullopt;
    return std::chrono::system_clock::now() +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(b.next - now);
}

void RemoteArchive::resetBackOff() {
    BackOff& b = backOff();
    std::lock_guard lock(b.mutex);
    b.failures = 0;
    b.destination.clear();
}
