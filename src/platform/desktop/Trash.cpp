#include "platform/desktop/Trash.h"

#include "platform/runtime/DateFormat.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string reason(int error) { return std::strerror(error); }

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// The Path key of a .trashinfo file is a URL path: every byte outside the
// unreserved set and "/" is percent-encoded.
std::string percentEncoded(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool makeFolder(const fs::path& folder, std::string* error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) setError(error, folder.string() + ": " + ec.message());
    if (!ec) chmod(folder.c_str(), 0700);
    return !ec;
}

// The info file is written first and exclusively, so it reserves the name
// against another process trashing an item of the same name.
bool writeInfo(const fs::path& info, const fs::path& original, std::string* error) {
    int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        setError(error, info.string() + ": " + reason(errno));
        return false;
    }
    std::string text = "[Trash Info]\nPath=" + percentEncoded(original.string()) +
                       "\nDeletionDate=" + DateFormat::format(std::chrono::system_clock::now(), "yyyy-MM-dd'T'HH:mm:ss") + "\n";
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int saved = errno;
    close(fd);
    if (!ok) {
        unlink(info.c_str());
        setError(error, info.string() + ": " + reason(saved));
    }
    return ok;
}

bool copyThenRemove(const fs::path& item, const fs::path& target, std::string* error) {
    std::error_code ec;
    fs::copy(item, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec) fs::remove_all(item, ec);
    if (ec) {
        fs::remove_all(target, ec);
        setError(error, target.string() + ": " + ec.message());
        return false;
    }
    return true;
}

bool moveWithoutReplacing(const fs::path& item, const fs::path& target, std::string* error) {
    if (renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    int failure = errno;
    if (failure == EINVAL && access(target.c_str(), F_OK) != 0) {
        // A file system without RENAME_NOREPLACE: the name was checked free just now.
        if (rename(item.c_str(), target.c_str()) == 0) return true;
        failure = errno;
    }
    if (failure == EXDEV) return copyThenRemove(item, target, error);
    setError(error, target.string() + ": " + reason(failure));
    return false;
}

} // namespace

std::optional<fs::path> Trash::homeTrash() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return fs::path(data) / "Trash";
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".local" / "share" / "Trash";
    return std::nullopt;
}

std::optional<fs::path> Trash::filesFolder() {
    auto root = homeTrash();
    if (!root) return std::nullopt;
    return *root / "files";
}

bool Trash::contains(const std::string& name) {
    auto root = homeTrash();
    if (!root) return false;
    struct stat st {};
    return lstat((*root / "files" / name).c_str(), &st) == 0 ||
           lstat((*root / "info" / (name + ".trashinfo")).c_str(), &st) == 0;
}

bool Trash::moveItem(const fs::path& item, const std::string& name, std::string* error) {
    auto root = homeTrash();
    if (!root) {
        setError(error, "no home folder for the trash");
        return false;
    }
    if (!makeFolder(*root / "files", error) || !makeFolder(*root / "info", error)) return false;
    std::error_code ec;
    fs::path original = fs::absolute(item, ec).lexically_normal();
    fs::path info = *root / "info" / (name + ".trashinfo");
    if (!writeInfo(info, original, error)) return false;
    if (moveWithoutReplacing(item, *root / "files" / name, error)) return true;
    unlink(info.c_str());
    return false;
}

} // namespace platform
