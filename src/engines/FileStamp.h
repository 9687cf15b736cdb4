#pragma once
// What a pass's counts compare a file and its copy by, read without
// following a link: the kind, the size and the modification time, and which
// file it is (device and inode), which tells a copy rsync wrote anew from
// one it left as it was.

#include "platform/desktop/FileAttributes.h"
#include "platform/runtime/DateFormat.h"

#include <cstdint>
#include <optional>
#include <string>

class FileStamp {
public:
    // nullopt when nothing is there, or it cannot be looked at.
    static std::optional<FileStamp> of(const std::string& path);
    // The same from attributes already read.
    static FileStamp of(const platform::FileAttributes& attributes);

    bool isRegularFile() const { return regular_; }
    platform::Date modified() const { return modified_; }
    // When the file itself last changed (written, renamed into place).
    platform::Date changed() const { return changed_; }
    std::uint64_t size() const { return size_; }
    // Both are regular files of the same size and modification time in
    // whole seconds: what rsync's own check takes for an identical copy, so
    // a destination that keeps coarser times shows no failures. On a disk
    // that keeps times to two seconds (FAT) they may differ by up to
    // windowSeconds, as with rsync's --modify-window.
    bool matches(const FileStamp& other, int windowSeconds = 0) const;
    bool isSameFileAs(const FileStamp& other) const { return device_ == other.device_ && inode_ == other.inode_; }
    // Whether the copy run's walk selects it (SettleTime; none: 0).
    bool settled(unsigned minutes, platform::Date now) const;

private:
    bool regular_ = false;
    std::uint64_t size_ = 0;
    platform::Date modified_;
    platform::Date changed_;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
};
