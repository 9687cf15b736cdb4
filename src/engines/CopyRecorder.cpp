#include "engines/CopyRecorder.h"

#include "core/ArchiveRecord.h"
#include "engines/FileStamp.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Sha256.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unordered_set>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A disk that keeps times to two seconds may date a copy written just
// before the record as if it came after: it is read again, never skipped.
constexpr auto kTimeSlack = std::chrono::seconds(2);

bool changedSince(const FileStamp& copy, platform::Date moment) { return copy.changed() + kTimeSlack >= moment; }

std::optional<platform::Date> recordedAt(const ArchiveRecord& record) {
    if (!record.writtenAt()) return std::nullopt;
    return std::chrono::time_point_cast<platform::Date::duration>(std::chrono::file_clock::to_sys(*record.writtenAt()));
}

struct Todo {
    std::string path; // below the archive folder
    FileStamp copy;
    bool fresh = false; // written anew by this run's rsync
};

struct Found {
    enum class Kind { Unreadable, Proven, FromCopy, Unlike } kind = Kind::Unreadable;
    std::string hash;
};

// A copy this run wrote with its original's size and time is what rsync
// sent and checked as it wrote: its original, still in memory, gives its
// hash. Any other copy is read, and compared with its original when that
// is still the file it was copied from.
Found look(const fs::path& source, const fs::path& archive, const Todo& todo) {
    const auto original = FileStamp::of((source / todo.path).string());
    const bool sameFile = original && original->matches(todo.copy, 1);
    if (sameFile && todo.fresh) {
        const auto hash = platform::sha256OfFile(source / todo.path);
        return hash ? Found{Found::Kind::Proven, *hash} : Found{};
    }
    const auto copyHash = platform::sha256OfFile(archive / todo.path);
    if (!copyHash) return {};
    if (!sameFile) return {Found::Kind::FromCopy, *copyHash};
    const auto originalHash = platform::sha256OfFile(source / todo.path);
    if (!originalHash) return {Found::Kind::FromCopy, *copyHash};
    return {*originalHash == *copyHash ? Found::Kind::Proven : Found::Kind::Unlike, *copyHash};
}

// Reading is most of the cost, and both processors can read and hash.
std::vector<Found> lookAll(const fs::path& source, const fs::path& archive, const std::vector<Todo>& todo) {
    std::vector<Found> found(todo.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < todo.size(); i = next++) found[i] = look(source, archive, todo[i]);
    };
    const unsigned helpers = std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), 4) - 1;
    std::vector<std::jthread> threads;
    for (unsigned i = 0; i < helpers && todo.size() > 1; ++i) threads.emplace_back(work);
    work();
    return found;
}

// The copies the run made, when it knows them and the record knows the
// rest: rsync wrote each anew (another file than before, or one that did
// not match its original before), checking it against what it read.
std::vector<Todo> madeByTheRun(const fs::path& archive, const std::vector<std::string>& made) {
    std::vector<Todo> todo;
    for (const std::string& path : made)
        if (const auto stamp = FileStamp::of((archive / path).string()); stamp && stamp->isRegularFile())
            todo.push_back({path, *stamp, true});
    return todo;
}

// A copy found by walking the folder that the run did not make may have
// changed in other ways (its owner, its mode): it is read, never taken for
// its original.
std::vector<Todo> toLookAt(const fs::path& archive, const ArchiveRecord& record, const std::vector<std::string>* made,
                           bool wholeFolder, std::error_code& ec) {
    const auto recorded = recordedAt(record);
    if (made && recorded && !wholeFolder) return madeByTheRun(archive, *made);
    const std::unordered_set<std::string> madeNow = made ? std::unordered_set<std::string>(made->begin(), made->end())
                                                         : std::unordered_set<std::string>{};
    std::vector<Todo> todo;
    for (auto it = fs::recursive_directory_iterator(archive, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        if (it->is_symlink(kind) || !it->is_regular_file(kind)) continue;
        const auto stamp = FileStamp::of(it->path().string());
        if (!stamp || !stamp->isRegularFile()) continue;
        std::string path = it->path().lexically_relative(archive).generic_string();
        if (record.hashOf(path) && recorded && !changedSince(*stamp, *recorded)) continue;
        const bool fresh = madeNow.count(path) > 0;
        todo.push_back({std::move(path), *stamp, fresh});
    }
    return todo;
}

// The copy a run replaced, moved to its kept folder, holds what the record
// said of it: it is recorded there, as unproven as it was.
void recordKept(ArchiveRecord& record, const std::string& keptFolder, const std::string& path, const std::string& hash) {
    if (keptFolder.empty()) return;
    const fs::path kept(keptFolder);
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(kept / path, ec))) return;
    // From inside the archive folder: ../.tolv-archiver-kept/<run>/<folder>/<path>
    const fs::path fromArchive =
        fs::path("..") / kept.parent_path().parent_path().filename() / kept.parent_path().filename() / kept.filename() / path;
    record.set(fromArchive.generic_string(), hash, !record.fromCopy(path));
}

// A copy the run made again with the same bytes (a photo only touched):
// the version rsync kept of it would be a second copy of the current one.
// It goes, with the folders it leaves empty up to the kept folders' root.
void dropIdenticalKept(const std::string& keptFolder, const std::string& path, const std::string& hash) {
    if (keptFolder.empty()) return;
    const fs::path kept = fs::path(keptFolder) / path;
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(kept, ec))) return;
    const auto keptHash = platform::sha256OfFile(kept);
    if (!keptHash || *keptHash != hash || !fs::remove(kept, ec)) return;
    const fs::path root = fs::path(keptFolder).parent_path().parent_path();
    for (fs::path folder = kept.parent_path(); folder != root && fs::is_empty(folder, ec) && fs::remove(folder, ec);)
        folder = folder.parent_path();
}

} // namespace

namespace CopyRecorder {

bool update(const std::string& source, const std::string& archive, const std::vector<std::string>* made,
            bool wholeFolder, const std::string& keptFolder, Counts* counts, std::string* why) {
    auto record = ArchiveRecord::load(archive, why);
    if (!record) return false;
    Counts local;
    Counts& c = counts ? *counts : local;
    std::error_code ec;
    const std::vector<Todo> todo = toLookAt(archive, *record, made, wholeFolder, ec);
    if (ec) {
        if (why) *why = ec.message();
        return false;
    }
    const std::vector<Found> found = lookAll(source, archive, todo);
    for (std::size_t i = 0; i < todo.size(); ++i) {
        if (found[i].kind == Found::Kind::Unreadable) continue; // looked at again next time
        ++c.looked;
        if (found[i].kind == Found::Kind::Unlike) {
            // The next pass copies the original again; the record keeps what it knew.
            ++c.unlike;
            continue;
        }
        const bool proven = found[i].kind == Found::Kind::Proven;
        const auto known = record->hashOf(todo[i].path);
        if (known && *known == found[i].hash && todo[i].fresh) dropIdenticalKept(keptFolder, todo[i].path, *known);
        if (!proven && known && *known == found[i].hash) continue; // the same bytes, recorded before
        if (known && *known != found[i].hash) recordKept(*record, keptFolder, todo[i].path, *known);
        record->set(todo[i].path, found[i].hash, proven);
        ++(proven ? c.proven : c.fromCopy);
    }
    if (todo.empty()) return true;
    return record->save(why);
}

bool begin(const std::string& archive) {
    std::error_code ec;
    const fs::path pending = ArchiveRecord::pendingFileFor(archive);
    if (fs::exists(pending, ec)) return true;
    if (ArchiveRecord::makeFolderFor(archive)) std::ofstream(pending).flush();
    return false;
}

bool updateLogged(const std::string& source, const std::string& archive, bool leftBehind, std::int64_t copied,
                  const std::vector<std::string>* made, const std::string& keptFolder) {
    std::error_code ec;
    const fs::path pending = ArchiveRecord::pendingFileFor(archive);
    if (copied == 0 && !leftBehind && fs::exists(ArchiveRecord::fileFor(archive), ec)) {
        fs::remove(pending, ec);
        return true;
    }
    Counts counts;
    std::string why;
    // A run before this one ended before its record did: the copies it
    // made are not this run's to name, and only the whole folder tells.
    if (!update(source, archive, made, leftBehind, keptFolder, &counts, &why)) {
        platform::logf("ERROR: the record of %s could not be brought up to date: %s", archive.c_str(), why.c_str());
        return false;
    }
    fs::remove(pending, ec);
    if (counts.looked > 0)
        platform::logf("record of %s: %lld cop%s read, %lld proven by their original, %lld recorded from the copy, "
                       "%lld unlike their original",
                       archive.c_str(), static_cast<long long>(counts.looked), counts.looked == 1 ? "y" : "ies",
                       static_cast<long long>(counts.proven), static_cast<long long>(counts.fromCopy),
                       static_cast<long long>(counts.unlike));
    return true;
}

} // namespace CopyRecorder
