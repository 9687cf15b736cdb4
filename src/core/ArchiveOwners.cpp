#include "core/ArchiveOwners.h"

#include "core/DestinationMarker.h"
#include "core/RemoteArchive.h"
#include "platform/runtime/HostInfo.h"
#include "platform/runtime/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kClaimed = "archive folder of another station";

fs::path ownerFile(const fs::path& archive, const std::string& archiveName) {
    return archive / DestinationMarker::kFolderName / "owners" / archiveName;
}

struct Owner {
    std::string id;
    std::string slot;
    std::string name;
};

std::optional<Owner> readOwner(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    std::istringstream fields(line);
    Owner o;
    fields >> o.id >> o.slot;
    std::getline(fields >> std::ws, o.name);
    if (o.id.empty()) return std::nullopt;
    return o;
}

std::optional<std::string> heldByAnother(const std::optional<Owner>& owner, const std::string& archiveName) {
    if (!owner || owner->id == RemoteArchive::stationId()) return std::nullopt;
    return kClaimed + ": \"" + archiveName + "\" on the disk is archived into by " + owner->name + " (slot " +
           owner->slot + "); give this source folder another name";
}

// O_EXCL: of two stations claiming at once, one wins.
bool writeNew(const fs::path& file, const std::string& record, int* error) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    const bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size()) && ::fsync(fd) == 0;
    *error = written ? 0 : errno;
    ::close(fd);
    if (!written) ::unlink(file.c_str());
    return written;
}

} // namespace

namespace ArchiveOwners {

std::optional<std::string> claim(const fs::path& archive, const ArchiveClaim& claim) {
    const fs::path file = ownerFile(archive, claim.archiveName);
    if (auto why = heldByAnother(readOwner(file), claim.archiveName)) return why;
    if (readOwner(file)) return std::nullopt; // ours already
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const std::string record = RemoteArchive::stationId() + " " + std::to_string(claim.slot) + " " +
                               platform::HostInfo::stationName() + "\n";
    int error = 0;
    // A record left empty by a crash holds nothing: it is taken over.
    if (fs::exists(file, ec) && !readOwner(file)) fs::remove(file, ec);
    if (writeNew(file, record, &error)) {
        platform::logf("Archive folder \"%s\" recorded as this station's (slot %d)", claim.archiveName.c_str(), claim.slot);
        return std::nullopt;
    }
    if (error == EEXIST) return heldByAnother(readOwner(file), claim.archiveName);
    // A disk that takes no record (read-only, full) takes no copy either:
    // the pass meets that problem itself and names it.
    platform::logf("Archive folder \"%s\" could not be recorded as this station's: %s", claim.archiveName.c_str(),
                   std::strerror(error));
    return std::nullopt;
}

std::optional<std::string> refusal(const fs::path& archive, const std::string& archiveName) {
    return heldByAnother(readOwner(ownerFile(archive, archiveName)), archiveName);
}

} // namespace ArchiveOwners
