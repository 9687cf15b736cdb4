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

namespace ArchiveOwners {

const std::string kClaimed = "archive folder of another station";

namespace {

struct Owner {
    std::string id;
    std::string slot;
    std::string name;
};

Owner parsed(const std::string& line) {
    std::istringstream fields(line);
    Owner o;
    fields >> o.id >> o.slot;
    std::getline(fields >> std::ws, o.name);
    return o;
}

fs::path ownerFile(const fs::path& archive, const std::string& archiveName) {
    return archive / DestinationMarker::kFolderName / "owners" / archiveName;
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

const std::string kOnTheDisk = "on the disk";

// O_EXCL: of two stations claiming at once, one wins.
bool writeNew(const fs::path& file, const std::string& line, int* error) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    const std::string text = line + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    *error = written ? 0 : errno;
    ::close(fd);
    if (!written) ::unlink(file.c_str());
    return written;
}

} // namespace

std::string record(int slot) {
    return RemoteArchive::stationId() + " " + std::to_string(slot) + " " + platform::HostInfo::stationName();
}

bool namesAStation(const std::string& ownerLine) { return !parsed(ownerLine).id.empty(); }

std::optional<std::string> heldByAnother(const std::string& ownerLine, const std::string& archiveName,
                                         const std::string& where) {
    const Owner owner = parsed(ownerLine);
    if (owner.id.empty() || owner.id == RemoteArchive::stationId()) return std::nullopt;
    // Two stations may share a host name: the short station ID tells them apart.
    return kClaimed + ": \"" + archiveName + "\" " + where + " is archived into by " + owner.name + ", station " +
           owner.id.substr(0, 8) + " (slot " + owner.slot + "); give this source folder another name";
}

std::optional<std::string> claim(const fs::path& archive, const ArchiveClaim& claim) {
    const fs::path file = ownerFile(archive, claim.archiveName);
    const std::string held = firstLine(file);
    if (namesAStation(held)) return heldByAnother(held, claim.archiveName, kOnTheDisk);
    std::error_code ec;
    // A record left empty by a crash holds nothing: it is taken over.
    if (fs::exists(file, ec)) fs::remove(file, ec);
    fs::create_directories(file.parent_path(), ec);
    int error = 0;
    if (writeNew(file, record(claim.slot), &error)) {
        platform::logf("Archive folder \"%s\" recorded as this station's (slot %d)", claim.archiveName.c_str(), claim.slot);
        return std::nullopt;
    }
    if (error == EEXIST) return heldByAnother(firstLine(file), claim.archiveName, kOnTheDisk);
    // A disk that takes no record (read-only, full) takes no copy either:
    // the pass meets that problem itself and names it.
    platform::logf("Archive folder \"%s\" could not be recorded as this station's: %s", claim.archiveName.c_str(),
                   std::strerror(error));
    return std::nullopt;
}

std::optional<std::string> refusal(const fs::path& archive, const std::string& archiveName) {
    return heldByAnother(firstLine(ownerFile(archive, archiveName)), archiveName, kOnTheDisk);
}

} // namespace ArchiveOwners
