#pragma once
// Program-wide names: the slot parameter names, the folder reference keys,
// the preference keys of the folder slot table, the notification names and
// their userInfo keys, and builders for the per-slot dictionaries.

#include <map>
#include <string>

// The six parameter names; each constant's value is its own name.
inline const std::string sPrefCameraFolderPathKey = "sPrefCameraFolderPathKey";
inline const std::string sPrefCameraFolderPathAliasDataKey = "sPrefCameraFolderPathAliasDataKey";
inline const std::string sPrefCameraFolderPathAliasDataIsValidKey = "sPrefCameraFolderPathAliasDataIsValidKey";
inline const std::string sPrefStartingNoCameraKey = "sPrefStartingNoCameraKey";
inline const std::string sPrefCameraFolderPathEnableKey = "sPrefCameraFolderPathEnableKey";
inline const std::string sPrefCameraFolderPathEnableTitleStringKey = "sPrefCameraFolderPathEnableTitleStringKey";

// Keys of the folder reference parameters handed to folder validation.
inline const std::string sPrefFolderNameKey = "prefFolderNameKey";
inline const std::string sPrefFolderAliasDataKey = "prefFolderAliasDataKey";
inline const std::string sPrefFolderNameIsValidKey = "prefFolderNameIsValidKey";

// Format keys: the older per-source path read by a watcher's poll, and the
// running-task flag of a slot (index with two digits).
inline const std::string sPrefCameraFolderPathFormat = "prefCameraFolder%iPath";
inline const std::string sPrefWatcherInProgressFormat = "prefWatcherObject%02iInProgress";

// Schedule keys.
inline const std::string sPrefDailyScheduledTime = "prefDailyScheduledTime2";
inline const std::string sPrefNextScheduledTime = "prefNextScheduledLaunchctlTime";
inline const std::string sPrefNextScheduledTimeDisplayString = "prefNextScheduledLaunchctlTimeDisplayString";
// Why the daily time is not in the user's scheduler; absent while it is.
inline const std::string kPrefDailyScheduleProblem = "prefDailyScheduleProblem";

// Program-wide settings.
inline const std::string kPrefBackupSourceImagesAfterMinutesOld = "prefBackupSourceImagesAfterMinutesOld";
inline const std::string kPrefDeleteSourceImagesAfterDaysOld = "prefDeleteSourceImagesAfterDaysOld";
inline const std::string kPrefEnableDeleteOldSourceImages = "prefEnableDeleteOldSourceImages";
inline const std::string kPrefDoSaveLogs = "prefDoSaveLogs";
inline const std::string kPrefDaysToSaveLogs = "prefDaysToSaveLogs";
inline const std::string kPrefDidSetSchedule = "prefDidSetSchedule";
inline const std::string kPrefTempTime = "prefTempTime";
inline const std::string kPrefLaunchAgentContent = "prefLaunchAgentContent";
inline const std::string kPrefLastSavedLaunchAgentContent = "prefLastSavedLaunchAgentContent";
inline const std::string kPrefUseAbsolueBundlePathForProgramArguments = "prefUseAbsolueBundlePathForProgramArguments";
inline const std::string kPreflastLaunchctlDate = "preflastLaunchctlDate";
// The same moment as a date, for scripts.
inline const std::string kPrefLastScheduledStart = "prefLastScheduledStart";
inline const std::string kPrefVersionDisplayString = "prefVersionDisplayString";
inline const std::string kPrefUseBatchedSynchronization = "prefUseBatchedSynchronization";
// Minutes between the full passes of a watched folder with fast archiving on; 0: none.
inline const std::string kPrefFullPassIntervalMinutes = "prefFullPassIntervalMinutes";
// A pass copies nothing while the destination has less free space than this (MB).
inline const std::string kPrefMinimumFreeSpaceMB = "prefMinimumFreeSpaceMB";
// The user is told when a watched folder's oldest unarchived file is older than this; 0: never.
inline const std::string kPrefBackupLagAlarmMinutes = "prefBackupLagAlarmMinutes";
// Every copy in the archive is read again once in this many days, a share each day; 0: never.
inline const std::string kPrefVerifyArchiveDays = "prefVerifyArchiveDays";
// What reading a folder's archive found, and where the rolling check
// stands (ArchiveHealth); "Format1".."Format3" by source slot.
inline const std::string kPrefArchiveCheck = "prefArchiveCheck";
// The kept versions of copies in the destination as last counted (KeptVersions).
inline const std::string kPrefKeptVersions = "prefKeptVersions";

// Notification names.
inline const std::string kWatcherDoStart = "WatcherDoStart";
inline const std::string kWatcherDoStop = "WatcherDoStop";
inline const std::string kWatcherDoStartAll = "WatcherDoStartAll";
inline const std::string kWatcherDoStopAll = "WatcherDoStopAll";
inline const std::string kWatcherSetParams = "WatcherSetParams";
inline const std::string kWatcherDoPollFolder = "WatcherDoPollFolder";
inline const std::string kWatcherItemChanged = "WatcherItemChanged";
// A stream or a pass started (both, told apart by a "timer" key); the two
// below say which, for listeners that care.
inline const std::string kWatcherDidStart = "WatcherDidStart";
// A slot's stream runs: {"watcherObj", "runLoop", "index", "timer"}.
inline const std::string kWatcherStreamDidStart = "WatcherStreamDidStart";
// A slot's pass begins: {"watcherObj", "runLoop"}.
inline const std::string kWatcherPassDidStart = "WatcherPassDidStart";
inline const std::string kWatcherDidStop = "WatcherDidStop";
inline const std::string kWatcherDidStopAll = "WatcherDidStopAll";
// A watcher refused to run a pass of its folder: {"watcherObj", "reason"}.
inline const std::string kWatcherPassRefused = "WatcherPassRefused";
// A watcher stored its slot's last pass result: {"watcherObj", "passResult"
// (the PassResult itself, so listeners need not read it back)}.
inline const std::string kWatcherPassEnded = "WatcherPassEnded";
// A slot's count of files nobody archives changed (WatcherNSObject::unarchived).
inline const std::string kWatcherUnarchivedCounted = "WatcherUnarchivedCounted";
// A reading of a folder's archive stored what it found: {"index"}.
inline const std::string kArchiveCheckDidEnd = "ArchiveCheckDidEnd";
inline const std::string kUserInfoPassResult = "passResult";
// What the destination is now, posted when that changes: {"reason": "" when
// passes may archive into it, else the problem; "watchPath": the folder;
// "returned": true when it came back from a problem; "freeBytes" (uint64),
// when ready and known}.
inline const std::string kDestinationDidChange = "DestinationDidChange";
// The user asks for the destination to be looked at again at once (Scan Now,
// --scan, --check-destination, the row's "Try again"): a back-off ends.
inline const std::string kDestinationRetry = "DestinationRetry";
inline const std::string kUserInfoReturned = "returned";
inline const std::string kUserInfoFreeBytes = "freeBytes";
inline const std::string kEnableView = "EnableView";
inline const std::string kKLVVR_TASK_DONE = "KLVVR_TASK_DONE";

// userInfo keys. "index" holds an int32_t, "watchPath" a std::string,
// "watcherObj" a std::shared_ptr<WatcherNSObject>, "CFRunLoopRef" a
// std::shared_ptr<platform::RunLoop>, "timer" a platform::RunLoop::Id,
// "doEnable" a bool.
inline const std::string kUserInfoIndex = "index";
inline const std::string kUserInfoWatchPath = "watchPath";
inline const std::string kUserInfoWatcherObj = "watcherObj";
inline const std::string kUserInfoRunLoop = "CFRunLoopRef";
inline const std::string kUserInfoTimer = "timer";
inline const std::string kUserInfoDoEnable = "doEnable";
inline const std::string kUserInfoReason = "reason";
// "KLVVR_TASK_DONE" of a synchronization also carries a dictionary beside its
// context: "taskStarted" a bool (false: refused, or its tools could not
// start), "taskStatus" an int32_t (the copying tool's exit status).
inline const std::string kUserInfoTaskStarted = "taskStarted";
inline const std::string kUserInfoTaskStatus = "taskStatus";

// The hidden folder of the destination where a pass keeps the earlier
// versions of the copies it replaces, one subfolder per pass. It is never
// an archive folder.
inline const std::string kKeptFolderName = ".tolv-archiver-kept";

// A slot parameter dictionary (parameter name -> preference key) or a
// folder reference parameter dictionary (reference key -> preference key).
using ParamDictionary = std::map<std::string, std::string>;

namespace CommonHeader {

constexpr int kSlotCount = 4;       // slot 0: destination; 1..3: sources
constexpr int kDestinationSlot = 0;

// Title that launch writes into a slot's enable-title key.
std::string slotTitle(int slot);
// The slot's name in messages: "Destination/Backup", "Main Images",
// "For Web", "Composed Images"; "" outside 0..3.
std::string slotDisplayName(int slot);
// The slot's parameter dictionary from the folder slot table; empty for an
// index outside 0..3.
ParamDictionary slotParameters(int slot);
// The three-entry folder reference parameters built from slot parameters.
ParamDictionary folderReferenceParameters(const ParamDictionary& slotParameters);
// "prefWatcherObject%02iInProgress" and "prefCameraFolder%iPath" for an index.
std::string inProgressKey(int index);
std::string cameraFolderPathKey(int index);
// Value of a parameter, or "" when absent.
std::string param(const ParamDictionary& params, const std::string& name);
// "{key = value; ...}" for log lines.
std::string describe(const ParamDictionary& params);

} // namespace CommonHeader
