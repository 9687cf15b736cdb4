#include "platform/preferences/AtomicFile.h"

#include "platform/runtime/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string errnoText(const std::string& what, const fs::path& path, int err) {
    return what + " " + path.string() + ": " + std::strerror(err);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The file a write should land in: through a symbolic link, so that a
// preference file linked from elsewhere stays linked.
fs::path writeTarget(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_symlink(file, ec)) return file;
    fs::path target = fs::read_symlink(file, ec);
    if (ec) return file;
    return target.is_absolute() ? target : file.parent_path() / target;
}

fs::path folderOf(const fs::path& file) {
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// A new file gets the usual mode of a user's file; a replaced one keeps its own.
mode_t modeFor(const fs::path& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    return 0644;
}

// The rename is only durable once the folder entry itself is on the device.
void syncFolder(const fs::path& folder) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
}

bool writeTemporary(int fd, const fs::path& tmp, std::string_view contents, mode_t mode, std::string* error) {
    if (!writeAll(fd, contents)) {
        setError(error, errnoText("cannot write", tmp, errno));
        return false;
    }
    ::fchmod(fd, mode);
    if (::fsync(fd) != 0) {
        setError(error, errnoText("cannot flush", tmp, errno));
        return false;
    }
    return true;
}

} // namespace

std::optional<std::string> readWholeFile(const fs::path& file, std::size_t maxBytes, std::string* error) {
    // Non-blocking, so that a FIFO in the file's place is refused instead of
    // waiting for a writer forever; it changes nothing for a regular file.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        setError(error, errnoText("cannot open", file, errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, file.string() + " is not a regular file");
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        setError(error, file.string() + " is too large (" + std::to_string(st.st_size) + " bytes)");
        return std::nullopt;
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            setError(error, errnoText("cannot read", file, errno));
            return std::nullopt;
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (contents.size() + static_cast<std::size_t>(n) > maxBytes) {
            setError(error, file.string() + " is too large");
            return std::nullopt;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    return contents;
}

namespace {

enum class Placing { Replace, CreateOnly };

// Writes the contents to a private temporary file beside target, flushed to
// the device, and puts it in target's place; on failure the temporary goes
// and target is untouched.
bool writeBeside(const fs::path& target, std::string_view contents, mode_t mode, Placing placing, std::string* error) {
    const fs::path folder = folderOf(target);
    std::string tmp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd.valid()) {
        setError(error, errnoText("cannot create a temporary file in", folder, errno));
        return false;
    }
    bool ok = writeTemporary(fd.get(), tmp, contents, mode, error);
    if (ok && fd.reset() != 0) {
        setError(error, errnoText("cannot close", tmp, errno));
        ok = false;
    }
    if (ok && placing == Placing::Replace && ::rename(tmp.c_str(), target.c_str()) != 0) {
        setError(error, errnoText("cannot replace", target, errno));
        ok = false;
    }
    if (ok && placing == Placing::CreateOnly) {
        const RenameResult placed = renameWithoutReplacing(tmp, target, error);
        if (placed == RenameResult::TargetExists) setError(error, errnoText("cannot create", target, EEXIST));
        ok = placed == RenameResult::Done;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}

} // namespace

bool writeFileAtomically(const fs::path& file, std::string_view contents, std::string* error) {
    const fs::path target = writeTarget(file);
    return writeBeside(target, contents, modeFor(target), Placing::Replace, error);
}

bool replaceFileAtomically(const fs::path& file, std::string_view contents, std::string* error) {
    return writeBeside(file, contents, 0644, Placing::Replace, error);
}

bool createFileAtomically(const fs::path& file, std::string_view contents, std::string* error) {
    return writeBeside(file, contents, 0644, Placing::CreateOnly, error);
}

RenameResult renameWithoutReplacing(const fs::path& from, const fs::path& to, std::string* error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return RenameResult::Done;
    if (errno == EEXIST) return RenameResult::TargetExists;
    if (errno != EINVAL && errno != ENOSYS) {
        setError(error, errnoText("cannot rename", from, errno));
        return RenameResult::Failed;
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing
    // name just the same, and unlinking the old name completes the move.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return RenameResult::Done;
    }
    if (errno == EEXIST) return RenameResult::TargetExists;
    setError(error, errnoText("cannot rename", from, errno));
    return RenameResult::Failed;
}

bool makeFoldersBelow(const fs::path& base, const fs::path& folder, std::string* error) {
    const fs::path relative = folder.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") {
        setError(error, folder.string() + " is not inside " + base.string());
        return false;
    }
    fs::path made = base;
    for (const fs::path& part : relative) {
        if (part == ".") continue;
        made /= part;
        if (::mkdir(made.c_str(), 0777) != 0 && errno != EEXIST) {
            setError(error, errnoText("cannot make folder", made, errno));
            return false;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        setError(error, folder.string() + " is not a folder");
        return false;
    }
    return true;
}

} // namespace platform
