#include "engines/CopyRecorder.h"

#include "core/ArchiveRecord.h"
#include "engines/FileStamp.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Sha256.h"

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A disk that keeps times to two seconds may date a copy written just
// before the record as if it came after: it is read again, never skipped.
constexpr auto kTimeSlack = std::chrono::seconds(2);

bool writtenSince(const FileStamp& copy, const std::optional<fs::file_time_type>& recorded) {
    if (!recorded) return true;
    const auto at = std::chrono::file_clock::to_sys(*recorded);
    return copy.changed() + kTimeSlack >= at;
}

void record(ArchiveRecord& record, const fs::path& source, const fs::path& copy, const std::string& path,
            const FileStamp& copyStamp, CopyRecorder::Counts& counts) {
    const auto hash = platform::sha256OfFile(copy);
    if (!hash) return; // unreadable now: looked at again next time
    ++counts.looked;
    const fs::path original = source / path;
    const auto originalStamp = FileStamp::of(original.string());
    if (originalStamp && originalStamp->matches(copyStamp, 1)) {
        const auto originalHash = platform::sha256OfFile(original);
        if (originalHash && *originalHash == *hash) {
            record.set(path, *hash, true);
            ++counts.proven;
        } else if (originalHash) {
            ++counts.unlike;
        }
        return;
    }
    // No original to compare with (deleted, or changed since): the copy
    // is what the archive holds.
    if (!record.hashOf(path) || *record.hashOf(path) != *hash) {
        record.set(path, *hash, false);
        ++counts.fromCopy;
    }
}

} // namespace

namespace CopyRecorder {

bool update(const std::string& source, const std::string& archive, Counts* counts, std::string* why) {
    auto loaded = ArchiveRecord::load(archive, why);
    if (!loaded) return false;
    ArchiveRecord& rec = *loaded;
    Counts local;
    Counts& c = counts ? *counts : local;
    std::error_code ec;
    const fs::path root(archive);
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        const auto stamp = FileStamp::of(it->path().string());
        if (!stamp || !stamp->isRegularFile()) continue;
        const std::string path = it->path().lexically_relative(root).generic_string();
        if (rec.hashOf(path) && !writtenSince(*stamp, rec.writtenAt())) continue;
        record(rec, source, it->path(), path, *stamp, c);
    }
    if (ec) {
        if (why) *why = ec.message();
        return false;
    }
    return rec.save(why);
}

bool updateLogged(const std::string& source, const std::string& archive) {
    Counts counts;
    std::string why;
    if (!update(source, archive, &counts, &why)) {
        platform::logf("ERROR: the record of %s could not be brought up to date: %s", archive.c_str(), why.c_str());
        return false;
    }
    if (counts.looked > 0)
        platform::logf("record of %s: %lld cop%s read, %lld proven by their original, %lld recorded from the copy, "
                       "%lld unlike their original",
                       archive.c_str(), static_cast<long long>(counts.looked), counts.looked == 1 ? "y" : "ies",
                       static_cast<long long>(counts.proven), static_cast<long long>(counts.fromCopy),
                       static_cast<long long>(counts.unlike));
    return true;
}

} // namespace CopyRecorder
