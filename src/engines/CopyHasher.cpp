#include "engines/CopyHasher.h"

#include "core/ArchiveRecord.h"
#include "platform/runtime/SearchPath.h"
#include "engines/ToolLauncher.h"
#include "platform/runtime/Task.h"

#include <cstdlib>

#include <map>
#include <set>

namespace {

// The pieces of a child's output that end in delimiter.
std::vector<std::string> piecesOf(const std::string& output, char delimiter) {
    std::vector<std::string> pieces;
    std::string::size_type from = 0;
    for (auto end = output.find(delimiter); end != std::string::npos;
         from = end + 1, end = output.find(delimiter, from))
        pieces.push_back(output.substr(from, end - from));
    return pieces;
}

// "ionice -t -c3 program": idle priority, and the program runs all the
// same when the kernel refuses it.
platform::Task::Options idle(const std::string& program, std::vector<std::string> arguments) {
    const auto path = platform::SearchPath::find(program).value_or("/usr/bin/" + program);
    platform::Task::Options options;
    if (const auto ionice = platform::SearchPath::find("ionice")) {
        options.path = *ionice;
        options.arguments = {"-t", "-c3", path};
    } else {
        options.path = path;
    }
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    return options;
}

// Of paths sha256sum gave no line for, those that are not there at all.
std::set<std::string> absentOf(const std::string& folder, const std::vector<std::string>& paths) {
    std::vector<std::string> arguments{"-c", "for f; do [ -e \"$f\" ] || [ -L \"$f\" ] || printf '%s\\0' \"$f\"; done",
                                       "sh"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    platform::Task::Options options{"/bin/sh", arguments, folder};
    const auto output = platform::Task::runCapturingOutput(options);
    if (output.termination.status != 0) return {};
    const auto pieces = piecesOf(output.standardOutput, '\0');
    return {pieces.begin(), pieces.end()};
}

} // namespace

std::vector<CopyHasher::Read> CopyHasher::hash(const std::string& folder, const std::vector<std::string>& paths) {
    std::vector<std::string> arguments{"--"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    auto options = idle("sha256sum", arguments);
    options.workingDirectory = folder;
    const auto output = platform::Task::runCapturingOutput(options);
    std::map<std::string, std::string> hashes;
    for (const auto& line : piecesOf(output.standardOutput, '\n'))
        if (const auto entry = ArchiveRecord::parse(line)) hashes[entry->path] = entry->hash;
    std::vector<std::string> unread;
    for (const auto& path : paths)
        if (!hashes.contains(path)) unread.push_back(path);
    const std::set<std::string> absent = unread.empty() ? std::set<std::string>{} : absentOf(folder, unread);
    std::vector<Read> reads;
    for (const auto& path : paths) {
        if (const auto it = hashes.find(path); it != hashes.end())
            reads.push_back({Read::Kind::Hashed, it->second});
        else
            reads.push_back({absent.contains(path) ? Read::Kind::Missing : Read::Kind::Unreadable, ""});
    }
    return reads;
}

std::optional<std::string> CopyHasher::contents(const std::string& file) {
    // A record not made yet is no error to tell.
    const auto output = platform::Task::runCapturingOutput(
        {"/bin/sh", {"-c", "[ -e \"$1\" ] || exit 3; exec cat -- \"$1\"", "sh", file}, std::nullopt});
    if (output.termination.status != 0 || output.termination.signaled) return std::nullopt;
    return output.standardOutput;
}

std::optional<CopyHasher::Files> CopyHasher::filesBelow(const std::string& folder) {
    const auto output = platform::Task::runCapturingOutput(
        {"/bin/sh",
         {"-c", "[ -e \"$1\" ] || exit 0; exec \"$2\" \"$1\" -type f -printf '%s\\n'", "sh", folder,
          ToolLauncher::kFindToolPath},
         std::nullopt});
    if (output.termination.status != 0 || output.termination.signaled) return std::nullopt;
    Files files;
    for (const auto& size : piecesOf(output.standardOutput, '\n')) {
        ++files.count;
        files.bytes += std::strtoll(size.c_str(), nullptr, 10);
    }
    return files;
}
