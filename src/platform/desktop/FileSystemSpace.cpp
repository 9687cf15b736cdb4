#include "platform/desktop/FileSystemSpace.h"

#include <sys/statvfs.h>

namespace platform {

std::optional<FileSystemSpace> fileSystemSpace(const std::string& folder) {
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0) return std::nullopt;
    FileSystemSpace space;
    space.availableBytes = static_cast<std::uintmax_t>(st.f_bavail) * st.f_frsize;
    if (st.f_files > 0) space.availableFiles = st.f_favail;
    space.readOnly = (st.f_flag & ST_RDONLY) != 0;
    return space;
}

} // namespace platform
