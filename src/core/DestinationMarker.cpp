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

bool isId(const std::string& id) {
    if (id.size() < 16 || id.size() > 64) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

const std::string kFileName = ".tolv-archiver-destination";

Reading read(const std::filesystem::path& folder) {
    Reading reading;
    std::error_code ec;
    const auto file = folder / kFileName;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) return reading;
    std::string why;
    const auto bytes = platform::readWholeFile(file, kMostBytes, &why);
    const auto plist = bytes ? Value::fromPlistBytes(*bytes, &why) : std::nullopt;
    const std::string* id = plist ? (*plist)[kIdKey].string() : nullptr;
    if (id && isId(*id)) {
        reading.kind = Reading::Kind::Present;
        reading.id = *id;
        return reading;
    }
    reading.kind = Reading::Kind::Damaged;
    reading.reason = file.string() + ": " + (why.empty() ? "no archive ID in it" : why);
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

bool write(const std::filesystem::path& folder, const std::string& id, std::string* error) {
    const Value marker(Value::Dictionary{
        {kIdKey, Value(id)},
        {kCreatedKey, Value(std::chrono::system_clock::now())},
        {kNoteKey, Value("This folder is a Tolv-Archiver archive. Keep this file: without it nothing is archived "
                         "here.")}});
    // The name itself is replaced: a link planted there is never written through.
    return platform::replaceFileAtomically(folder / kFileName, marker.toXmlPlist(), error);
}

} // namespace DestinationMarker
