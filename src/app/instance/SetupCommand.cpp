#include "app/instance/SetupCommand.h"
#include "core/Settings.h"

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "pass/FolderChoice.h"

#include <charconv>

namespace {

using Reply = SetupCommand::Reply;
using Action = CommandLine::Action;

// The window's spin boxes go up to this.
constexpr std::int64_t kMostNumber = 100000;

Reply stored(const std::string& text) {
    Settings::save();
    return {0, text + "\n"};
}

Reply chooseFolder(int slot, const std::string& path) {
    if (auto why = FolderChoice::chooseTyped(slot, path))
        return {2, "\"" + path + "\" cannot be the " + CommonHeader::slotDisplayName(slot) + " folder: " + *why + "\n"};
    return stored(CommonHeader::slotDisplayName(slot) + ": " + path);
}

Reply switchSlot(int slot, bool on, bool running) {
    Settings::store(CommonHeader::slotParameters(slot).at(sPrefCameraFolderPathEnableKey), platform::Value(on));
    // As the row's switch does: the slot's watching follows it.
    if (running)
        platform::NotificationCenter::defaultCenter().post(on ? kWatcherDoStart : kWatcherDoStop, nullptr,
                                                           platform::UserInfo{{kUserInfoIndex, std::int32_t(slot)}});
    return stored(CommonHeader::slotDisplayName(slot) + (on ? ": on" : ": off"));
}

std::string names() {
    std::string all;
    for (const auto& s : SetupCommand::settings()) all += (all.empty() ? "" : ", ") + std::string(s.name);
    return all;
}

Reply set(const std::string& name, const std::string& value) {
    for (const auto& s : SetupCommand::settings()) {
        if (name != s.name) continue;
        if (s.isSwitch) {
            if (value != "on" && value != "off") return {2, name + " takes on or off, not '" + value + "'\n"};
            Settings::store(s.key, platform::Value(value == "on"));
            return stored(name + ": " + value);
        }
        std::int64_t number = -1;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || end != value.data() + value.size() || number < 0 || number > kMostNumber)
            return {2, name + " takes a whole number from 0 to " + std::to_string(kMostNumber) + ", not '" + value + "'\n"};
        Settings::store(s.key, platform::Value(std::int64_t{number}));
        return stored(name + ": " + value);
    }
    return {2, "no setting named '" + name + "'; the settings are " + names() + "\n"};
}

} // namespace

const std::vector<SetupCommand::Setting>& SetupCommand::settings() {
    static const std::vector<Setting> table{
        {"settle-minutes", kPrefBackupSourceImagesAfterMinutesOld, false},
        {"delete-old", kPrefEnableDeleteOldSourceImages, true},
        {"delete-after-days", kPrefDeleteSourceImagesAfterDaysOld, false},
        {"fast-archiving", kPrefUseBatchedSynchronization, true},
        {"full-pass-minutes", kPrefFullPassIntervalMinutes, false},
        {"save-logs", kPrefDoSaveLogs, true},
        {"log-days", kPrefDaysToSaveLogs, false},
        {"free-space-floor-mb", kPrefMinimumFreeSpaceMB, false},
        {"lag-alarm-minutes", kPrefBackupLagAlarmMinutes, false},
        {"verify-archive-days", kPrefVerifyArchiveDays, false},
    };
    return table;
}

SetupCommand::Reply SetupCommand::run(const CommandLine& line, bool running) {
    switch (line.action) {
    case Action::SetDestination: return chooseFolder(CommonHeader::kDestinationSlot, line.path);
    case Action::SetSource: return chooseFolder(line.slot, line.path);
    case Action::Enable: return switchSlot(line.slot, true, running);
    case Action::Disable: return switchSlot(line.slot, false, running);
    case Action::Set: return set(line.settingName, line.settingValue);
    default: return {2, "not a set-up command\n"};
    }
}
