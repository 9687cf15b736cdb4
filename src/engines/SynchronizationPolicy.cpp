#include "engines/SynchronizationPolicy.h"

#include "core/CommonHeader.h"
#include "core/RemoteDestination.h"
#include "platform/remote/SecureShell.h"
#include "platform/desktop/FileSystemTimes.h"
#include "core/PathString.h"

#include <filesystem>

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

bool SynchronizationPolicy::isRemote(const std::string& destination) {
    return RemoteDestination::looksRemote(destination);
}

std::vector<std::string> SynchronizationPolicy::remoteTransport() {
    // -8: names are told as they are, but for control characters and a
    // backslash before "#", which rsync escapes as \#ooo (RemoteListing).
    return {"-8", "--out-format=%i %n", "-e", platform::SecureShell::rsyncShellCommand(), kIoTimeout};
}

int SynchronizationPolicy::windowSeconds(const std::string& destination) {
    // A copy on a disk that keeps coarser times is in place when its time is
    // within a second of its file's; without the window rsync would copy
    // every file again on every pass. A server's disk is taken to keep them.
    if (isRemote(destination)) return 0;
    return platform::keepsExactTimes(destination) ? 0 : 1;
}

std::vector<std::string> SynchronizationPolicy::timeWindow(const std::string& destination) {
    const int window = windowSeconds(destination);
    if (window == 0) return {};
    return {"--modify-window=" + std::to_string(window)};
}

std::vector<std::string> SynchronizationPolicy::copyFlags(const std::string& destination, bool flushEach) {
    // To a server each copy is told on standard output, which is how a pass
    // counts them; its disk is flushed once, after the copies (RemoteArchive::flush).
    // -ii: unchanged files are told too, so a pass counts every file it is
    // through with as it goes (RemoteSynchronization's progress).
    if (isRemote(destination)) return concatenated({kRemoteCopyFlags, "-ii"}, remoteTransport());
    std::vector<std::string> flags{kCopyFlags};
    if (flushEach) flags.push_back("--fsync");
    // A destination that stops answering (a hung share) ends the copy with
    // an error after this long without progress, instead of holding the
    // pass for ever; nothing is deleted without its copy.
    flags.push_back(kIoTimeout);
    return concatenated(flags, timeWindow(destination));
}

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

std::string SynchronizationPolicy::keptFolder(const std::string& destination, platform::Date start) {
    // Beside the archive folders rather than in one, so a kept version is
    // never taken for an archived copy; one folder per run, so a version
    // kept by one run is never replaced by the next. The archive folder's
    // name below it tells the sources apart.
    // rsync takes a server's kept folder as a path there.
    if (const auto server = RemoteDestination::parse(destination)) return keptFolder(server->path, start);
    return keptFolderBeside(PathString::standardizing(destination), start).string();
}

std::filesystem::path SynchronizationPolicy::keptFolderBeside(const std::filesystem::path& archiveFolder,
                                                              platform::Date start) {
    const std::string stamp = platform::DateFormat::format(start, "yyyy-MM-dd HH-mm-ss.SSS");
    return archiveFolder.parent_path() / kKeptFolderName / stamp / archiveFolder.filename();
}

std::vector<std::string> SynchronizationPolicy::keepingArguments(const std::string& destination, platform::Date start) {
    // A source file may take the name of a copy whose original is gone: a
    // camera that starts its numbering again, a folder named like an
    // earlier file. Without these flags rsync would overwrite or remove the
    // only copy left. rsync makes the folder only when it keeps something.
    return {"--backup", "--backup-dir=" + keptFolder(destination, start)};
}

std::vector<std::string> SynchronizationPolicy::verifiedRemoval(const std::string& archiveFolder) {
    // rsync reports success for a file that grew or was rewritten while it
    // copied, or that changed after it was listed; only a byte-identical
    // copy lets the source go.
    return {"-exec", "cmp", "-s", "{}", asFolder(archiveFolder) + "{}", ";", "-delete"};
}

std::vector<std::string> SynchronizationPolicy::verifiedDeletion(const std::string& destination, unsigned days) {
    return concatenated({"-Btime", "+" + std::to_string(days) + "d"}, verifiedRemoval(destination));
}

std::vector<std::string> SynchronizationPolicy::flushedDeletion(const std::string& destination, unsigned days) {
    // rsync --fsync flushes a copy's bytes but not the rename that gives it
    // its name: after a power cut the copy would survive only under rsync's
    // temporary name. Flushing the archive's file system (sync -f, a syncfs)
    // puts the name on the disk too, before cmp and the deletion; only files
    // old enough to go pay for it.
    return concatenated({"-Btime", "+" + std::to_string(days) + "d", "-exec", "sync", "-f", asFolder(destination) + "{}", ";"},
                        verifiedRemoval(destination));
}

std::vector<std::string> SynchronizationPolicy::perFileAction(const std::string& destination, unsigned days,
                                                              platform::Date start) {
    // Copy and deletion alternate file by file: each copy an original may
    // go against is on the disk before cmp reads it back, or a power cut
    // could take both. A copy that is not written costs nothing.
    const std::vector<std::string> rsync = concatenated({"-exec", "rsync"}, copyFlags(destination, deletes(days)));
    std::vector<std::string> action =
        concatenated(concatenated(rsync, keepingArguments(destination, start)), {"{}", asFolder(destination), ";"});
    // The age test rides on the copying walk itself, so here the deletion-off
    // value costs nothing: it is kept as it stands and matches no file. cmp
    // cannot read a server: its copies are compared after the walk.
    if (days > 0 && !isRemote(destination)) action = concatenated(std::move(action), flushedDeletion(destination, days));
    return action;
}

FindRequest SynchronizationPolicy::perFileRequest(const std::string& source, const std::string& destination,
                                                  unsigned minutes, unsigned days, platform::Object context,
                                                  platform::Date start) {
    FindRequest request = settledFiles(source, minutes);
    request.command = perFileAction(destination, days, start);
    request.context = std::move(context);
    return request;
}

std::vector<std::string> SynchronizationPolicy::walkArguments(unsigned minutes) {
    // Names may hold newlines; only NUL cannot be part of one.
    return concatenated(selection(minutes), {"-print0"});
}

std::vector<std::string> SynchronizationPolicy::copyOptions(const std::string& destination, platform::Date start) {
    return concatenated(copyFlags(destination, false), keepingArguments(destination, start));
}

std::vector<std::string> SynchronizationPolicy::copyArguments(const std::string& destination, platform::Date start) {
    return concatenated(copyOptions(destination, start), {"--from0", "--files-from=-", ".", asFolder(destination)});
}

std::vector<std::string> SynchronizationPolicy::deletionArguments(const std::string& destination, unsigned minutes,
                                                                  unsigned days) {
    // -delete is true only for a file it removed, so the pass counts what
    // went from the names printed after it.
    return concatenated(concatenated(selection(minutes), verifiedDeletion(destination, days)), {"-print0"});
}

std::vector<std::string> SynchronizationPolicy::remoteComparison(const std::string& destination, bool byContent) {
    // -ii tells every file, unchanged ones too, so a name told as "." (no
    // transfer) is one whose copy is there; with --checksum, one whose copy
    // has the same bytes, whatever its size and time say.
    std::vector<std::string> flags{"-n", byContent ? "-ii" : "-i", kRemoteCopyFlags};
    if (byContent) flags.push_back("--checksum");
    return concatenated(concatenated(flags, remoteTransport()), {"--from0", "--files-from=-", ".", asFolder(destination)});
}

std::vector<std::string> SynchronizationPolicy::candidateArguments(unsigned minutes, unsigned days) {
    return concatenated(selection(minutes), {"-Btime", "+" + std::to_string(days) + "d", "-print0"});
}

std::vector<std::string> SynchronizationPolicy::hiddenFileArguments(unsigned minutes) {
    const FindRequest hidden{".", "f", {".*"}, std::nullopt, minutes, std::nullopt, {}, nullptr};
    return concatenated(hidden.arguments(platform::Date{}), {"-print0"});
}
