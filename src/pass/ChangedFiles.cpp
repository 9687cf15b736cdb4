#include "pass/ChangedFiles.h"

#include "core/SettleTime.h"

#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folder's path below the source (whose real path is realSource), when
// it is a real folder inside it.
std::optional<fs::path> below(const fs::path& source, const fs::path& realSource, const fs::path& folder) {
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() != fs::file_type::directory) return std::nullopt;
    const fs::path relative = folder.lexically_relative(source);
    if (relative.empty() || *relative.begin() == "..") return std::nullopt;
    // A link anywhere above would lead out of the source.
    const fs::path real = fs::canonical(folder, ec);
    if (ec || real != (relative == "." ? realSource : realSource / relative)) return std::nullopt;
    return relative;
}

std::string listed(const fs::path& relative, const fs::path& name) {
    return (relative == "." ? fs::path(".") / name : fs::path(".") / relative / name).string();
}

// Sorts the regular files looked at into those to copy and those too young.
class Selection {
public:
    Selection(ChangedFiles& changed, long minutes, ChangedFiles::Clock::time_point now)
        : changed_(changed), minutes_(minutes), now_(now) {}

    // False when the file is too young to copy yet.
    bool take(const fs::path& relativeFolder, const fs::directory_entry& file) {
        const auto times = SettleTime::ofFile(file.path());
        if (!times) return true; // not a regular file, or gone since it was named
        if (SettleTime::isDatedInTheFuture(*times, now_)) ++changed_.futureDated;
        if (!SettleTime::isYoung(*times, minutes_, now_)) {
            changed_.files.push_back(listed(relativeFolder, file.path().filename()));
            return true;
        }
        ++changed_.youngCount;
        const auto since = SettleTime::waitingSince(*times, now_);
        if (!changed_.oldestYoung || since < *changed_.oldestYoung) changed_.oldestYoung = since;
        const auto settles = SettleTime::settledAt(*times, minutes_, now_);
        if (!changed_.settleMoment || settles < *changed_.settleMoment) changed_.settleMoment = settles;
        return false;
    }

private:
    ChangedFiles& changed_;
    const long minutes_;
    const ChangedFiles::Clock::time_point now_;
};

} // namespace

ChangedFiles ChangedFiles::list(const fs::path& source, const std::vector<std::string>& folders,
                                const std::vector<std::string>& namedFiles, long minutes, Clock::time_point now) {
    ChangedFiles changed;
    const fs::path root = source.lexically_normal();
    std::error_code ec;
    const fs::path realRoot = fs::canonical(root, ec);
    if (ec) return changed;
    Selection selection(changed, minutes, now);

    std::vector<std::string> toList = folders;
    std::vector<fs::directory_entry> files;
    for (const std::string& named : namedFiles) {
        fs::directory_entry entry(fs::path(named).lexically_normal(), ec);
        if (ec) continue; // gone again
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            toList.push_back(named);
        else
            files.push_back(std::move(entry));
    }

    std::set<fs::path> listedFolders;
    for (const std::string& folder : toList) {
        const fs::path path = fs::path(folder).lexically_normal();
        const auto relative = below(root, realRoot, path);
        if (!relative || !listedFolders.insert(path).second) continue;
        bool young = false;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            young = !selection.take(*relative, *it) || young;
        if (young) changed.youngFolders.push_back(folder);
    }

    // Each folder of a named file is proven inside the source once.
    std::map<fs::path, std::optional<fs::path>> proven;
    for (const auto& file : files) {
        const fs::path folder = file.path().parent_path();
        if (listedFolders.count(folder)) continue; // its listing took it already
        auto [it, isNew] = proven.try_emplace(folder);
        if (isNew) it->second = below(root, realRoot, folder);
        if (it->second && !selection.take(*it->second, file)) changed.youngFiles.push_back(file.path().string());
    }
    return changed;
}
