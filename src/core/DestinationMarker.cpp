#include "core/DestinationMarker.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/preferences/Value.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>

using platform::Value;

namespace DestinationMarker {
namespace {

const char* const kIdKey = "ArchiveID";
const char* const kCreatedKey = "Created";
const char* const kNoteKey = "Note";
// A marker is a few hundred bytes; anything much larger is not one of ours.
constexpr std::size_t kMostBytes = 64 * 1024;


// A file, or a link, where the marker folder belongs is a damaged marker:
// it goes, as the user chose this folder. A link is never followed.
bool makeMarkerFolder(const std::filesystem::path& marker, std::string* error) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(marker, ec);
    ec.clear(); // nothing there yet is the usual case
    if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) std::filesystem::remove(marker, ec);
    if (!ec) std::filesystem::create_directory(marker, ec);
    if (ec && error) *error = marker.string() + ": " + ec.message();
    return !ec;
}

bool isId(const std::string& id) {
    if (id.size() < 16 || id.size() > 64) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

const std::string kFolderName = ".tolv-archiver-destination";
const std::string kRecordName = "archive.plist";

Reading read(const std::filesystem::path& folder) {
    Reading reading;
    std::error_code ec;
    const auto marker = folder / kFolderName;
    const auto status = std::filesystem::symlink_status(marker, ec);
    if (!std::filesystem::exists(status)) return reading;
    // Only a real folder: the tools' paths pass through it, and a link would lead them elsewhere.
    if (!std::filesystem::is_directory(status)) {
        reading.kind = Reading::Kind::Damaged;
        reading.reason = marker.string() + ": not a folder";
        return reading;
    }
    const auto file = marker / kRecordName;
    std::string why;
    const auto bytes = platform::readWholeFile(file, kMostBytes, &why);
    if (!bytes) {
        reading.kind = Reading::Kind::Damaged;
        reading.reason = file.string() + ": " + why;
        return reading;
    }
    return fromRecord(*bytes, file.string());
}

Reading fromRecord(const std::string& bytes, const std::string& where) {
    Reading reading;
    reading.kind = Reading::Kind::Damaged;
    std::string why;
    const auto plist = bytes.size() <= kMostBytes ? Value::fromPlistBytes(bytes, &why) : std::nullopt;
    if (bytes.size() > kMostBytes) why = "too large to be a marker";
    const std::string* id = plist ? (*plist)[kIdKey].string() : nullptr;
    if (id && isId(*id)) {
        reading.kind = Reading::Kind::Present;
        reading.id = *id;
        return reading;
    }
    reading.reason = where + ": " + (why.empty() ? "no archive ID in it" : why);
    return reading;
}

std::string newId() {
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(random()));
        id += word;
    }
    return id;
}

std::string record(const std::string& id) {
    const Value record(Value::Dictionary{
        {kIdKey, Value(id)},
        {kCreatedKey, Value(std::chrono::system_clock::now())},
        {kNoteKey, Value("This folder is a Tolv-Archiver archive. Keep this folder: without it nothing is archived "
                         "here.")}});
    return record.toXmlPlist();
}

bool write(const std::filesystem::path& folder, const std::string& id, std::string* error) {
    const auto marker = folder / kFolderName;
    if (!makeMarkerFolder(marker, error)) return false;
    return platform::replaceFileAtomically(marker / kRecordName, record(id), error);
}

bool isIn(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(std::filesystem::symlink_status(folder / kFolderName, ec));
}

std::string reachedThroughMarker(const std::string& archiveFolder) {
    std::filesystem::path archive(archiveFolder);
    if (!archive.has_filename()) archive = archive.parent_path();
    if (!isIn(archive.parent_path())) return archiveFolder;
    return reachedThroughMarkerPath(archiveFolder);
}

std::string reachedThroughMarkerPath(const std::string& archiveFolder) {
    std::filesystem::path archive(archiveFolder);
    if (!archive.has_filename()) archive = archive.parent_path();
    return (archive.parent_path() / kFolderName / ".." / archive.filename()).string();
}

} // namespace DestinationMarker
