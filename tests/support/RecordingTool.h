#pragma once
// A stand-in for a tool that appends its name and arguments to a record
// file each time it runs, then becomes the real tool; optionally found
// first through PATH for as long as the object lives.

#include "support/TempHome.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The script, made in `home`/tools.
std::filesystem::path recordingTool(const TempHome& home, const std::string& name, const std::string& real,
                                    const std::filesystem::path& record);
std::vector<std::string> recordedLines(const std::filesystem::path& record);
// How many times a recording tool of that name ran.
std::size_t started(const std::filesystem::path& record, const std::string& tool);

// Puts the recording tool's folder first in PATH, and back as it was.
class RecordingToolInPath {
public:
    RecordingToolInPath(const TempHome& home, const std::string& name, const std::string& real,
                        std::filesystem::path record);
    ~RecordingToolInPath();
    RecordingToolInPath(const RecordingToolInPath&) = delete;
    RecordingToolInPath& operator=(const RecordingToolInPath&) = delete;
    std::vector<std::string> lines() const { return recordedLines(record_); }

private:
    std::filesystem::path record_;
    std::optional<std::string> saved_;
};

} // namespace testing_support
