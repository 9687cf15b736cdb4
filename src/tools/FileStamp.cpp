#include "tools/FileStamp.h"

#include <sys/stat.h>

#include <chrono>

std::optional<FileStamp> FileStamp::of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    FileStamp stamp;
    stamp.regular_ = S_ISREG(st.st_mode);
    stamp.size_ = static_cast<std::uint64_t>(st.st_size);
    const auto sinceEpoch = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
    stamp.modified_ = platform::Date(std::chrono::duration_cast<platform::Date::duration>(sinceEpoch));
    stamp.device_ = st.st_dev;
    stamp.inode_ = st.st_ino;
    return stamp;
}

bool FileStamp::matches(const FileStamp& other) const {
    return regular_ && other.regular_ && size_ == other.size_ && modified_ == other.modified_;
}

bool FileStamp::settled(unsigned minutes, platform::Date now) const {
    return minutes == 0 || now - modified_ >= std::chrono::minutes(minutes + 1);
}
