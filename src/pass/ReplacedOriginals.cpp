#include "pass/ReplacedOriginals.h"

#include "platform/desktop/FileAttributes.h"
#include "platform/preferences/AtomicFile.h"
#include "platform/runtime/Log.h"
#include "engines/FileStamp.h"
#include "core/SettleTime.h"
#include "engines/SynchronizationPolicy.h"

#include <array>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;
using platform::FileAttributes;
using platform::logf;

namespace ReplacedOriginals {
namespace {

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) return true; // unreadable: nothing is proven to differ
    std::array<char, 1 << 16> p{}, q{};
    while (x && y) {
        x.read(p.data(), p.size());
        y.read(q.data(), q.size());
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
    }
    return x.eof() && y.eof();
}

bool oldEnoughToGo(const FileAttributes& file, unsigned days, std::chrono::system_clock::time_point now) {
    if (days == 0 || days >= SynchronizationPolicy::kDeletionOffDays) return false;
    if (file.creationDate == FileAttributes::Date{}) return false; // no birth time kept
    return now - file.creationDate > std::chrono::days(days);
}

} // namespace

std::vector<std::string> find(const fs::path& source, const fs::path& archive, long minutes, unsigned deleteAfterDays,
                              std::chrono::system_clock::time_point now) {
    std::vector<std::string> differing;
    std::error_code ec;
    fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const auto file = FileAttributes::ofItem(it->path());
        if (!file || !file->isRegularFile) continue;
        if (SettleTime::isYoung({file->modificationDate, file->statusChangeDate}, minutes, now)) continue;
        const fs::path copyPath = archive / it->path().lexically_relative(source);
        const auto copy = FileAttributes::ofItem(copyPath);
        // Within a coarse disk's second: rsync copies any other anyway.
        if (!copy || !FileStamp::of(*file).matches(FileStamp::of(*copy), 1)) continue;
        const bool changedSince = file->statusChangeDate > copy->statusChangeDate;
        if (!changedSince && !oldEnoughToGo(*file, deleteAfterDays, now)) continue;
        if (!sameBytes(it->path(), copyPath)) {
            differing.push_back(it->path().string());
        } else if (changedSince) {
            std::error_code touched;
            fs::last_write_time(copyPath, fs::last_write_time(copyPath, touched), touched);
        }
    }
    return differing;
}

std::vector<std::string> keepCopiesAside(const fs::path& source, const fs::path& archive,
                                         const std::vector<std::string>& files, platform::Date start) {
    std::vector<std::string> moved;
    const fs::path kept = SynchronizationPolicy::keptFolderBeside(archive, start);
    for (const std::string& file : files) {
        const fs::path relative = fs::path(file).lexically_relative(source);
        std::string why;
        if (!platform::makeFoldersBelow(archive.parent_path(), (kept / relative).parent_path(), &why) ||
            platform::renameWithoutReplacing(archive / relative, kept / relative, &why) !=
                platform::RenameResult::Done) {
            logf("ERROR: the copy of %s could not be kept aside (%s): it is not replaced", file.c_str(), why.c_str());
            continue;
        }
        logf("%s differs from its copy of the same size and time: the copy is kept in %s", file.c_str(),
             (kept / relative).c_str());
        moved.push_back(file);
    }
    return moved;
}

} // namespace ReplacedOriginals
