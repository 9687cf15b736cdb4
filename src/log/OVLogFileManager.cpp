#include "log/OVLogFileManager.h"

#include "platform/runtime/HostInfo.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/StandardError.h"
#include "core/PathString.h"
#include "core/TolvExtras.h"
#include "log/TolvFileExtras.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using platform::log;
using platform::logf;

namespace {

std::mutex gStateMutex;
std::string _gApplicationName;
std::string _gCopyrightVersion;
fs::path gCurrentLogFile;

const std::string kBannerRule(59, '=');
const std::string kVersionFallback = "version information unavailable";
constexpr std::chrono::seconds kDefaultLogAge(259200);

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

std::string withoutExtension(const std::string& name) {
    auto dot = name.rfind('.');
    return (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
}

void storeState(std::string& field, const std::string& value) {
    std::lock_guard lock(gStateMutex);
    field = value;
}

std::string loadState(const std::string& field) {
    std::lock_guard lock(gStateMutex);
    return field;
}

bool isCurrentLogFile(const fs::path& file) {
    fs::path current = OVLogFileManager::currentLogFile();
    std::error_code ec;
    return !current.empty() && fs::equivalent(file, current, ec);
}

std::string stringOption(const OVLogFileManager::Options& options, const std::string& key, const std::string& fallback) {
    auto it = options.find(key);
    if (it == options.end() || !it->second.string()) return fallback;
    return *it->second.string();
}

bool boolOption(const OVLogFileManager::Options& options, const std::string& key) {
    auto it = options.find(key);
    return it != options.end() && it->second.toBool();
}

platform::Date dateOption(const OVLogFileManager::Options& options, const std::string& key, platform::Date fallback) {
    auto it = options.find(key);
    if (it == options.end()) return fallback;
    return it->second.date().value_or(fallback);
}

// Entries are gathered before any is removed, so removal cannot disturb the
// walk. A folder that cannot be read yields what was gathered so far.
std::vector<fs::path> entriesOf(const fs::path& folder, bool wholeTree) {
    std::vector<fs::path> entries;
    std::error_code ec;
    if (wholeTree) {
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
    } else {
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
        std::sort(entries.begin(), entries.end());
    }
    return entries;
}

std::string operatingSystemLine() {
    auto script = platform::Bundle::main().pathForResource("osProductVersion", "sh");
    auto version = runShellScript2(script ? std::optional<std::string>(script->string()) : std::nullopt,
                                   std::vector<std::string>{});
    if (!version || version->empty()) return "runShellScript2 failed to get Mac OS version???";
    return "Linux: v" + *version;
}

void writeBanner() {
    log(kBannerRule);
    log(OVLogFileManager::hostModelAndArch());
    log(operatingSystemLine());
    logf("%s => %s", loadState(_gApplicationName).c_str(), loadState(_gCopyrightVersion).c_str());
    log(kBannerRule);
}

} // namespace

void OVLogFileManager::deleteItem(const std::string& path, platform::Date beforeDate, const std::string& baseName,
                                  bool deleteImmediately) {
    fs::path item = PathString::expandingTilde(path);
    std::error_code ec;
    fs::file_status status = fs::status(item, ec);
    if (!fs::exists(status)) {
        logf("testDirectory=> curItem does NOT exist: %s\n", item.c_str());
        return;
    }
    if (fs::is_directory(status)) return;
    std::string name = item.filename().string();
    if (!startsWithIgnoringCase(name, baseName)) return;
    if (!itemIsEarlierThan(item.string(), beforeDate, NSFileModificationDate)) return;
    if (isCurrentLogFile(item)) {
        // Deleting it would lose the rest of this run's diagnostics.
        logf("Item KEPT, this run is writing into it: [%s]", name.c_str());
        return;
    }
    if (deleteImmediately) {
        logf("Item DELETED: [%s]", name.c_str());
        fs::remove(item, ec);
    } else {
        logf("Item Moved To Trash: [%s]", name.c_str());
        moveFileToUserTrash(item.string());
    }
}

void OVLogFileManager::deleteOldLogsWithOptions(const Options& options) {
    deleteOldLogsWithOptions(options, std::chrono::system_clock::now());
}

void OVLogFileManager::deleteOldLogsWithOptions(const Options& options, platform::Date now) {
    bool wholeTree = boolOption(options, "deleteSubDirectory");
    bool immediately = boolOption(options, "deleteImmediately");
    std::string folder = PathString::expandingTilde(stringOption(options, "sourcePath", _gLogPath));
    std::string baseName = stringOption(options, "baseName", loadState(_gApplicationName));
    platform::Date cutOff = dateOption(options, "beforeDate", now - kDefaultLogAge);
    if (baseName.empty()) {
        log("deleteOldLogsWithOptions => no base name to match log files: nothing deleted");
        return;
    }
    for (const fs::path& entry : entriesOf(folder, wholeTree)) deleteItem(entry.string(), cutOff, baseName, immediately);
}

std::string OVLogFileManager::getCopyrightInfo() {
    return getCopyrightInfo(platform::Bundle::main());
}

std::string OVLogFileManager::getCopyrightInfo(const platform::Bundle& bundle) {
    std::string shortVersion = bundle.infoString("CFBundleShortVersionString");
    std::string build = bundle.infoString("CFBundleVersion");
    std::string text = (shortVersion.empty() || build.empty()) ? kVersionFallback : shortVersion + " (" + build + ")";
    storeState(_gCopyrightVersion, text);
    return text;
}

std::string OVLogFileManager::getApplicationName() {
    return getApplicationName(platform::Bundle::main());
}

std::string OVLogFileManager::getApplicationName(const platform::Bundle& bundle) {
    std::string name = bundle.infoString("CFBundleExecutable");
    if (name.empty()) name = bundle.infoString("CFBundleDisplayName");
    if (name.empty()) name = _gDefaultLogBaseName;
    name = withoutExtension(name);
    if (name.empty()) name = _gDefaultLogBaseName;
    storeState(_gApplicationName, name);
    return name;
}

std::string OVLogFileManager::hostModelAndArch() {
    return platform::HostInfo::machineModel().value_or("unknown") + " (" +
           platform::HostInfo::architecture().value_or("unknown") + ")";
}

bool OVLogFileManager::setupLogFile() {
    return setupLogFile(std::chrono::system_clock::now());
}

bool OVLogFileManager::setupLogFile(platform::Date now) {
    getCopyrightInfo();
    getApplicationName();
    fs::path folder = logFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) logf("createDirectoryAtPath returned error: %s", ec.message().c_str());
    if (!fs::is_directory(folder, ec)) return true;
    fs::path file = logFilePath(now);
    std::string error;
    if (!platform::StandardError::redirectTo(file, &error)) {
        // Standard error stays where it was, so this line and the rest of the run remain visible.
        logf("setupLogFile => cannot open the log file %s: %s", file.c_str(), error.c_str());
        return true;
    }
    {
        std::lock_guard lock(gStateMutex);
        gCurrentLogFile = file;
    }
    writeBanner();
    return true;
}

void OVLogFileManager::closeLogFile() {
    {
        std::lock_guard lock(gStateMutex);
        if (gCurrentLogFile.empty()) return;
        gCurrentLogFile.clear();
    }
    platform::StandardError::restore();
}

fs::path OVLogFileManager::logFolder() {
    return PathString::expandingTilde(_gLogPath);
}

fs::path OVLogFileManager::logFilePath(platform::Date now) {
    return logFolder() / (loadState(_gApplicationName) + "_" + computeCurrentDaysFolderString2(3, 0, now) + "." +
                          _gLogExtension);
}

fs::path OVLogFileManager::currentLogFile() {
    std::lock_guard lock(gStateMutex);
    return gCurrentLogFile;
}
