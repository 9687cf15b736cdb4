#include "tools/SynchronizationPolicy.h"

namespace {

// The files both engines take, as a find request of the per-file engine.
FindRequest settledFiles(const std::string& source, unsigned minutes) {
    std::optional<unsigned> age = minutes > 0 ? std::optional<unsigned>(minutes) : std::nullopt;
    return FindRequest{source, "f", {}, std::nullopt, age, std::nullopt, {}, nullptr};
}

std::vector<std::string> concatenated(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace

bool SynchronizationPolicy::deletes(unsigned days) { return days > 0 && days < kDeletionOffDays; }

std::string SynchronizationPolicy::asFolder(const std::string& destination) {
    // The trailing separator makes rsync treat the destination as a folder
    // and create it when missing; without it, a file at the top of a source
    // whose destination does not exist yet is copied under the folder's name.
    return destination.ends_with('/') ? destination : destination + "/";
}

std::vector<std::string> SynchronizationPolicy::selection(unsigned minutes) {
    // The selection has no birth-time test, so the time its arguments are
    // placed against is never read.
    return settledFiles(".", minutes).arguments(platform::Date{});
}

std::vector<std::string> SynchronizationPolicy::verifiedDeletion(const std::string& destination, unsigned days) {
    // rsync reports success for a file that grew or was rewritten while it
    // copied, or that changed after it was listed; only a byte-identical
    // copy lets the source go.
    return {"-Btime", "+" + std::to_string(days) + "d", "-exec", "cmp", "-s", "{}", asFolder(destination) + "{}", ";",
            "-delete"};
}

std::vector<std::string> SynchronizationPolicy::perFileAction(const std::string& destination, unsigned days) {
    std::vector<std::string> action{"-exec", "rsync", kCopyFlags, "{}", asFolder(destination), ";"};
    // The age test rides on the copying walk itself, so here the deletion-off
    // value costs nothing: it is kept as it stands and matches no file.
    if (days > 0) action = concatenated(std::move(action), verifiedDeletion(destination, days));
    return action;
}

FindRequest SynchronizationPolicy::perFileRequest(const std::string& source, const std::string& destination,
                                                  unsigned minutes, unsigned days, platform::Object context) {
    FindRequest request = settledFiles(source, minutes);
    request.command = perFileAction(destination, days);
    request.context = std::move(context);
    return request;
}

std::vector<std::string> SynchronizationPolicy::walkArguments(unsigned minutes) {
    // Names may hold newlines; only NUL cannot be part of one.
    return concatenated(selection(minutes), {"-print0"});
}

std::vector<std::string> SynchronizationPolicy::copyArguments(const std::string& destination) {
    return {kCopyFlags, "--from0", "--files-from=-", ".", asFolder(destination)};
}

std::vector<std::string> SynchronizationPolicy::deletionArguments(const std::string& destination, unsigned minutes,
                                                                  unsigned days) {
    return concatenated(selection(minutes), verifiedDeletion(destination, days));
}
