#pragma once
// What coreutils' own sha256sum says of an archive folder's record, run
// from the archive folder as a user would: "" when every line checks out
// (or there is no record), else its complaints.

#include "core/ArchiveRecord.h"
#include "platform/runtime/Task.h"

#include <filesystem>
#include <string>

namespace testing_support {

inline std::string recordComplaints(const std::filesystem::path& archiveFolder) {
    const auto record = ArchiveRecord::fileFor(archiveFolder);
    if (!std::filesystem::exists(record)) return "";
    const auto out = platform::Task::runCapturingOutput(
        {.path = "/usr/bin/sha256sum", .arguments = {"-c", "--quiet", "--strict", record.string()},
         .workingDirectory = archiveFolder.string()});
    if (out.termination.started && out.termination.status == 0) return "";
    return "sha256sum -c: status " + std::to_string(out.termination.status) + "\n" + out.standardOutput;
}

} // namespace testing_support
