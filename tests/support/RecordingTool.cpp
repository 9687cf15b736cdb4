#include "support/RecordingTool.h"

#include "support/FileContents.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;

namespace testing_support {

fs::path recordingTool(const TempHome& home, const std::string& name, const std::string& real, const fs::path& record) {
    fs::path script = home.writeFile("tools/" + name, "#!/bin/sh\necho \"" + name + " $*\" >> '" + record.string() +
                                                          "'\nexec '" + real + "' \"$@\"\n");
    fs::permissions(script, fs::perms(0755), fs::perm_options::replace);
    return script;
}

std::vector<std::string> recordedLines(const fs::path& record) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(record));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t started(const fs::path& record, const std::string& tool) {
    const auto lines = recordedLines(record);
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.starts_with(tool + " "); });
}

RecordingToolInPath::RecordingToolInPath(const TempHome& home, const std::string& name, const std::string& real,
                                         fs::path record)
    : record_(std::move(record)) {
    const fs::path tool = recordingTool(home, name, real, record_);
    if (const char* old = std::getenv("PATH")) saved_ = old;
    setenv("PATH", (tool.parent_path().string() + ":" + saved_.value_or("/usr/bin:/bin")).c_str(), 1);
}

RecordingToolInPath::~RecordingToolInPath() {
    if (saved_)
        setenv("PATH", saved_->c_str(), 1);
    else
        unsetenv("PATH");
}

} // namespace testing_support
