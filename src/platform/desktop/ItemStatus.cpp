#include "platform/desktop/ItemStatus.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

ItemStatus::Kind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return ItemStatus::Kind::Regular;
    if (S_ISDIR(mode)) return ItemStatus::Kind::Directory;
    if (S_ISLNK(mode)) return ItemStatus::Kind::Link;
    return ItemStatus::Kind::Other;
}

ItemStatus statusOf(const struct stat& st) {
    return ItemStatus{kindOf(st.st_mode),
                      static_cast<std::uint64_t>(st.st_size),
                      static_cast<std::int64_t>(st.st_mtim.tv_sec),
                      static_cast<long>(st.st_mtim.tv_nsec),
                      static_cast<unsigned>(st.st_mode & 07777),
                      static_cast<unsigned>(st.st_uid),
                      static_cast<unsigned>(st.st_gid)};
}

} // namespace

std::optional<ItemStatus> ItemStatus::ofItem(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return statusOf(st);
}

std::optional<ItemStatus> ItemStatus::following(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return statusOf(st);
}

bool ItemStatus::ownersAreSettable() { return ::geteuid() == 0; }

} // namespace platform
