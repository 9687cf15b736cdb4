#pragma once
// Which of a pass's files rsync would leave exactly as they stand, so the
// fast engine hands rsync only the others. rsync (kCopyFlags, no checksums)
// leaves a copy alone when it is a regular file of the source file's size,
// modification time to the nanosecond, permissions, owner and group, and
// with -R it sets each folder above a name it is given to its source
// folder's permissions, owner, group and time. A file counts as in place
// only when all of that already holds for it and for every folder above it;
// whatever is in doubt goes to rsync, which then decides as it always did.
//
// rsync gives the destination folder itself no attributes from the names
// it copies, so the pass gives it the source folder's once its runs have
// ended (giveRootItsAttributes).
//
// Names are relative to both folders and prefixed "./", as the walk prints
// them. Not thread-safe: one pass uses it from one thread.

#include <string>
#include <unordered_map>

class ArchivedCopies {
public:
    ArchivedCopies(std::string source, std::string destination);

    // Whether rsync would change nothing for this name: its copy and every
    // folder above it (the destination folder aside) match the source, or
    // the folders that differ only in their attributes are set right by a
    // name being copied. Below a place where the destination has no real
    // folder (none yet, a link, a file), rsync makes a new one, so nothing
    // there is in place.
    bool inPlace(const std::string& name);
    // The name goes to rsync, which sets every folder above it.
    void copying(const std::string& name);
    // Gives the destination folder the source folder's permissions, owners
    // and time, as rsync -ptog would, where they differ; logs what it cannot.
    void giveRootItsAttributes() const;

private:
    enum class Folder { same, differs, setByCopy, notAFolder };
    Folder& folder(const std::string& relative);

    const std::string source_;      // with a trailing separator
    const std::string destination_; // with a trailing separator
    std::unordered_map<std::string, Folder> folders_;
};
