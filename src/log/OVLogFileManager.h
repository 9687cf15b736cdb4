#pragma once
// The dated log file: redirection of standard error into it with a banner
// that names machine, system and version, and the removal of old log files.
// Also the application name and version text that the rest of the program
// shows.

#include "platform/desktop/Bundle.h"
#include "platform/runtime/DateFormat.h"
#include "platform/preferences/Value.h"

#include <filesystem>
#include <optional>
#include <string>

class OVLogFileManager {
public:
    // Clean-up options, all optional: "sourcePath" (string), "baseName"
    // (string), "beforeDate" (date), "deleteSubDirectory" and
    // "deleteImmediately" (booleans).
    using Options = platform::Value::Dictionary;

    inline static const std::string _gLogPath = "~/Library/Logs/Tolv";
    inline static const std::string _gDefaultLogBaseName = "TolvArchiverLogFile";
    inline static const std::string _gLogExtension = "log";

    OVLogFileManager() = delete;

    // Removes (or trashes) the file when its name begins with the base name,
    // ignoring case, and it was last modified before the cut-off. Folders
    // and the log file this process writes to are left alone.
    static void deleteItem(const std::string& path, platform::Date beforeDate, const std::string& baseName,
                           bool deleteImmediately);
    static void deleteOldLogsWithOptions(const Options& options);
    static void deleteOldLogsWithOptions(const Options& options, platform::Date now);

    // "1.2 (345)" from the bundle's version entries.
    static std::string getCopyrightInfo();
    static std::string getCopyrightInfo(const platform::Bundle& bundle);
    // The bundle's executable name without extension; the log files' base name.
    static std::string getApplicationName();
    static std::string getApplicationName(const platform::Bundle& bundle);
    // "model (architecture)".
    static std::string hostModelAndArch();

    // Creates the log folder, sends standard error into today's log file and
    // writes the banner. Always YES.
    static bool setupLogFile();
    static bool setupLogFile(platform::Date now);
    // Sends standard error back where it went before set-up; nothing when
    // no log file is open.
    static void closeLogFile();

    // The expanded log folder, and the file a set-up at `now` writes to
    // (the log day turns at 03:00 local time).
    static std::filesystem::path logFolder();
    static std::filesystem::path logFilePath(platform::Date now);
    // The file this process writes its log into, or empty before set-up.
    static std::filesystem::path currentLogFile();
};
