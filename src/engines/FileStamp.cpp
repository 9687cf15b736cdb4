#include "engines/FileStamp.h"

#include "platform/desktop/FileAttributes.h"
#include "core/SettleTime.h"

#include <chrono>

std::optional<FileStamp> FileStamp::of(const std::string& path) {
    const auto attributes = platform::FileAttributes::ofItem(path);
    if (!attributes) return std::nullopt;
    return of(*attributes);
}

FileStamp FileStamp::of(const platform::FileAttributes& attributes) {
    FileStamp stamp;
    stamp.regular_ = attributes.isRegularFile;
    stamp.size_ = attributes.size;
    stamp.modified_ = attributes.modificationDate;
    stamp.changed_ = attributes.statusChangeDate;
    stamp.device_ = attributes.device;
    stamp.inode_ = attributes.inode;
    return stamp;
}

bool FileStamp::matches(const FileStamp& other, int windowSeconds) const {
    using std::chrono::floor;
    using std::chrono::seconds;
    const auto apart = floor<seconds>(modified_) - floor<seconds>(other.modified_);
    return regular_ && other.regular_ && size_ == other.size_ && std::chrono::abs(apart) <= seconds(windowSeconds);
}

bool FileStamp::settled(unsigned minutes, platform::Date now) const {
    return !SettleTime::isYoung({modified_, changed_}, static_cast<long>(minutes), now);
}
