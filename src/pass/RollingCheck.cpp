#include "pass/RollingCheck.h"

#include "core/ArchiveRecord.h"
#include "engines/CopyHasher.h"
#include "pass/ArchiveCheck.h"
#include "platform/runtime/Log.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr auto kDay = std::chrono::hours(24);

// Copies read at a time: a pass that begins waits for at most these.
constexpr std::size_t kBatch = 64;

// A copy as read, against its recorded hash; true when damaged (or unreadable).
bool take(ArchiveHealth& health, const fs::path& archive, const std::string& path, const std::string& hash,
          const CopyHasher::Read& read) {
    const bool missing = read.kind == CopyHasher::Read::Kind::Missing;
    const bool damaged = !missing && (read.kind == CopyHasher::Read::Kind::Unreadable || read.hash != hash);
    health.found(path, damaged, missing);
    if (damaged) platform::logf("ERROR: %s: damaged in the archive", (archive / path).c_str());
    if (missing) platform::logf("ERROR: %s: missing from the archive", (archive / path).c_str());
    return damaged;
}

// What reading found damaged is made again where its original allows.
void mendFound(ArchiveHealth& health, const std::string& archiveFolder, const std::vector<std::string>& damaged,
               const std::string& source) {
    if (damaged.empty() || source.empty()) return;
    ArchiveCheck::Folder folder;
    folder.archive = archiveFolder;
    folder.damaged = damaged;
    ArchiveCheck::mend(folder, source);
    for (const auto& path : folder.mended) health.found(path, false, false);
}

} // namespace

std::int64_t RollingCheck::shareOf(std::int64_t recorded, long days) {
    if (days <= 0 || recorded <= 0) return 0;
    return (recorded + days - 1) / days;
}

void RollingCheck::accrue(ArchiveHealth& health, std::int64_t recorded, long days, platform::Date now) {
    health.recorded = recorded;
    if (days <= 0) {
        health.owed = 0;
        return;
    }
    // A clock set back must not hold the shares off for as long.
    if (!health.accountedTo || *health.accountedTo > now) health.accountedTo = now - kDay;
    const auto wholeDays = (now - *health.accountedTo) / kDay;
    if (wholeDays < 1) return;
    *health.accountedTo += wholeDays * kDay;
    const std::int64_t due = shareOf(recorded, days) * static_cast<std::int64_t>(wholeDays);
    health.owed = std::min(recorded, health.owed + due);
}

std::optional<platform::Date> RollingCheck::nextDue(const ArchiveHealth& health) {
    if (!health.accountedTo) return std::nullopt;
    return *health.accountedTo + kDay;
}

std::int64_t RollingCheck::read(ArchiveHealth& health, const std::string& archiveFolder, const ArchiveRecord& record,
                                const std::string& source, const std::function<bool()>& stop, platform::Date now,
                                const Progress& progress) {
    const auto& hashes = record.hashes();
    health.owed = std::min<std::int64_t>(health.owed, static_cast<std::int64_t>(hashes.size()));
    std::int64_t read = 0;
    std::vector<std::string> damaged;
    auto it = hashes.upper_bound(health.next);
    while (health.owed > 0 && !hashes.empty() && !stop()) {
        // The next batch, up to the end of a round at most.
        if (it == hashes.end()) it = hashes.begin();
        std::vector<std::string> batch;
        for (auto at = it;
             at != hashes.end() && batch.size() < kBatch && static_cast<std::int64_t>(batch.size()) < health.owed; ++at)
            batch.push_back(at->first);
        const auto reads = CopyHasher::hash(archiveFolder, batch);
        for (std::size_t i = 0; i < batch.size(); ++i, ++it)
            if (take(health, archiveFolder, it->first, it->second, reads[i])) damaged.push_back(it->first);
        health.next = batch.back();
        health.owed -= static_cast<std::int64_t>(batch.size());
        read += static_cast<std::int64_t>(batch.size());
        if (progress) progress(read);
        // The last copy in the record's order ends a round.
        if (it == hashes.end()) {
            health.readThrough = now;
            health.next.clear();
        }
    }
    // Copies the record no longer names are no longer the archive's concern.
    for (auto* list : {&health.damaged, &health.missing})
        std::erase_if(*list, [&](const std::string& path) { return !hashes.contains(path); });
    mendFound(health, archiveFolder, damaged, source);
    health.recorded = static_cast<std::int64_t>(hashes.size());
    if (read > 0) {
        health.lastRead = now;
        health.lastShare = read;
    }
    return read;
}

std::int64_t RollingCheck::readAll(ArchiveHealth& health, const std::string& archiveFolder, const ArchiveRecord& record,
                                   const std::string& source, const std::function<bool()>& stop, platform::Date now,
                                   const Progress& progress) {
    ArchiveHealth whole = health;
    whole.next.clear();
    whole.owed = static_cast<std::int64_t>(record.hashes().size());
    const std::int64_t read = RollingCheck::read(whole, archiveFolder, record, source, stop, now, progress);
    // The rolling check goes on where it stood; what was found is kept.
    health.damaged = whole.damaged;
    health.missing = whole.missing;
    health.recorded = whole.recorded;
    if (whole.owed == 0) health.readThrough = now;
    return read;
}
