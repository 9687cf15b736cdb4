#pragma once
// What a synchronization copies and deletes, for both engines: the per-file
// one, where each file the walk selects runs its own rsync and cmp, and the
// fast one, where one walk feeds one rsync run and a second walk deletes.
// Both must select, copy and delete the same files, so every piece of their
// argument vectors is made here and nowhere else.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"
#include "engines/FindRequest.h"

#include <filesystem>
#include <string>
#include <vector>

class SynchronizationPolicy {
public:
    // The days value passed when the user has deletion switched off: no real
    // file was born that long ago.
    static constexpr unsigned kDeletionOffDays = 36500;
    // Links as links, permissions, times, owner and group, relative paths
    // kept below the destination, and no chatter on success.
    static constexpr const char* kCopyFlags = "-lptogRq";
    static constexpr const char* kIoTimeout = "--timeout=120";
    // The same flags to a server, telling each change (remoteTransport).
    static constexpr const char* kRemoteCopyFlags = "-lptogR";

    SynchronizationPolicy() = delete;

    // Whether a days value can delete any file: 0 means never, and the
    // deletion-off value and beyond are no real age.
    static bool deletes(unsigned days);
    // Whether the destination is a folder on another machine ("[user@]host:/path").
    static bool isRemote(const std::string& destination);
    // What every run to a server adds: each change told on standard output
    // ("%i %n"), ssh as the transport, and kIoTimeout.
    static std::vector<std::string> remoteTransport();
    // How many seconds apart a copy's time may be from its file's and still
    // count as in place: 1 on a disk that keeps coarser times than it is
    // given (FAT, exFAT, some shares), else 0. The copy runs and the pass's
    // counts both go by it.
    static int windowSeconds(const std::string& destination);
    // "--modify-window=1" where windowSeconds() is 1, else nothing; it
    // follows the copy flags.
    static std::vector<std::string> timeWindow(const std::string& destination);
    // What every copy run is given: kCopyFlags, "--fsync" when each copy is
    // to be on the disk before rsync ends, kIoTimeout and the time window.
    static std::vector<std::string> copyFlags(const std::string& destination, bool flushEach);
    // The destination as rsync must be given it.
    static std::string asFolder(const std::string& destination);
    // Regular files below the working folder, settled for `minutes` when
    // that is not 0.
    static std::vector<std::string> selection(unsigned minutes);

    // Where a run that began at `start` keeps the copies it replaces:
    // <destination's parent>/.tolv-archiver-kept/<start, local time to the
    // millisecond>/<destination's name>; on a server, that path there.
    static std::string keptFolder(const std::string& destination, platform::Date start);
    // The same folder on a disk, reached the way archiveFolder is (through
    // the destination's marker), so nothing is made there once the disk is
    // gone.
    static std::filesystem::path keptFolderBeside(const std::filesystem::path& archiveFolder, platform::Date start);
    // The rsync flags that move every copy a run replaces, or removes to
    // make way for a folder, into that run's kept folder at its relative path.
    static std::vector<std::string> keepingArguments(const std::string& destination, platform::Date start);

    // The primaries that delete a file once its copy at the same relative
    // path below the archive folder proves identical.
    static std::vector<std::string> verifiedRemoval(const std::string& archiveFolder);
    // The same, for files born more than `days` ago only.
    static std::vector<std::string> verifiedDeletion(const std::string& destination, unsigned days);
    // The per-file engine's deletion: the archive's file system flushed first.
    static std::vector<std::string> flushedDeletion(const std::string& destination, unsigned days);

    // The per-file engine: the primaries that follow the selection, and the
    // whole find request, run in the source, for a run that began at `start`.
    static std::vector<std::string> perFileAction(const std::string& destination, unsigned days, platform::Date start);
    static FindRequest perFileRequest(const std::string& source, const std::string& destination, unsigned minutes,
                                      unsigned days, platform::Object context, platform::Date start);

    // The fast engine's children, each run in the source: the walk that
    // lists the files; the rsync runs that copy them, given as arguments
    // after copyOptions and before the destination folder, or read from
    // standard input (copyArguments); and the deletion walk, which runs only
    // when the copies allow it and `deletes(days)`, and prints each file it
    // deleted, NUL-terminated.
    static std::vector<std::string> walkArguments(unsigned minutes);
    static std::vector<std::string> copyOptions(const std::string& destination, platform::Date start);
    static std::vector<std::string> copyArguments(const std::string& destination, platform::Date start);
    static std::vector<std::string> deletionArguments(const std::string& destination, unsigned minutes, unsigned days);

    // To a server, where cmp cannot read: a dry run over a list of names on
    // standard input that tells which copies are in place (quick check, for
    // the counts) or identical byte for byte (byContent, before deletion);
    // and the walks that list the files deletion may take: settled and born
    // more than `days` ago, or hidden and settled (the clean-up).
    static std::vector<std::string> remoteComparison(const std::string& destination, bool byContent);
    static std::vector<std::string> candidateArguments(unsigned minutes, unsigned days);
    static std::vector<std::string> hiddenFileArguments(unsigned minutes);
};
