// One launch's worth of log-file work, for tests that need a process of its
// own (its standard error is redirected for good):
//   logsession TAG [cleanup]
// sets up the log file, writes "session TAG", lets a child write to its
// inherited standard error, and with "cleanup" removes every matching log
// file last modified before an hour from now: the file being written then
// qualifies however late its last line was written.
#include "log/OVLogFileManager.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Task.h"

#include <chrono>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string tag = argv[1];
    OVLogFileManager::getApplicationName();
    OVLogFileManager::setupLogFile();
    platform::logf("session %s", tag.c_str());
    platform::Task::runCapturingOutput({.path = "/bin/sh",
                                        .arguments = {"-c", "echo child of session " + tag + " >&2"},
                                        .workingDirectory = std::nullopt});
    if (argc > 2 && std::string(argv[2]) == "cleanup") {
        OVLogFileManager::deleteOldLogsWithOptions({{"deleteSubDirectory", platform::Value(true)},
                                                    {"deleteImmediately", platform::Value(true)},
                                                    {"beforeDate", platform::Value(std::chrono::system_clock::now() + std::chrono::hours(1))}});
    }
    return 0;
}
