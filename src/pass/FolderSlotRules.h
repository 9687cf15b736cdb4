#pragma once
// Which folders the slots may hold together. Every source is archived into
// the destination folder plus the source's own name, so two sources of one
// name would overwrite each other's copies, and a source that overlaps the
// destination would archive (and, with deletion on, delete) its own copies.
// The rows ask when a folder is chosen or typed; a watcher asks again when a
// pass starts, since the preferences may have been edited by hand.

#include "platform/preferences/PreferenceSnapshot.h"
#include <optional>
#include <string>

class FolderSlotRules {
public:
    // Which other slots count: every slot that holds a folder (choosing),
    // or only the enabled sources (a pass: a switched-off slot archives
    // nothing, and the destination, looked at where a look that hangs is
    // bounded, is judged by besideDestination).
    enum class Others { All, EnabledSources };

    FolderSlotRules() = delete;

    // Why `path` cannot be the folder of `slot` beside the folders the other
    // slots hold now; nullopt when it can. Symbolic links are resolved
    // before folders are compared; names compare exactly, as the file
    // system does.
    static std::optional<std::string> refusal(int slot, const std::string& path, Others others);
    // The same with the other slots' folders as already read.
    static std::optional<std::string> refusal(int slot, const std::string& path, Others others,
                                              const platform::PreferenceSnapshot& stored);

    // Why a source may not be archived into the destination whose real path
    // (every link resolved) is given: it lies inside it, or holds it. The
    // destination is not looked at; nullopt without a real path.
    static std::optional<std::string> besideDestination(const std::string& source, const std::string& realDestination);

    // Why the clean-up (hidden files, old empty folders) may not walk the
    // source of a pass into `archiveFolder`, or nullopt: never the root, the
    // home folder, or a folder that holds the destination.
    static std::optional<std::string> cleanUpRefusal(const std::string& source, const std::string& archiveFolder);

    // The archive folder's name for a source: its last path component.
    static std::string archiveName(const std::string& sourcePath);
    // The source's archive folder in the destination folder.
    static std::string archiveFolder(const std::string& destination, const std::string& sourcePath);
};
