#include "tools/ChangedFiles.h"

#include "tools/SettleTime.h"

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

} // namespace

ChangedFiles ChangedFiles::list(const fs::path& source, const std::vector<std::string>& folders, long minutes,
                                Clock::time_point now) {
    ChangedFiles changed;
    const fs::path root = source.lexically_normal();
    std::error_code ec;
    const fs::path realRoot = fs::canonical(root, ec);
    if (ec) return changed;
    for (const std::string& folder : folders) {
        const auto relative = below(root, realRoot, fs::path(folder).lexically_normal());
        if (!relative) continue;
        bool young = false;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (it->symlink_status(fileEc).type() != fs::file_type::regular) continue;
            const auto written = it->last_write_time(fileEc);
            if (fileEc) continue; // gone since it was listed
            const auto modified = SettleTime::modifiedAt(written);
            if (SettleTime::isYoung(modified, minutes, now)) {
                young = true;
                ++changed.youngCount;
                if (!changed.oldestYoung || modified < *changed.oldestYoung) changed.oldestYoung = modified;
                const auto settles = SettleTime::settledAt(modified, minutes);
                if (!changed.settleMoment || settles < *changed.settleMoment) changed.settleMoment = settles;
                continue;
            }
            changed.files.push_back(listed(*relative, it->path().filename()));
        }
        if (young) changed.youngFolders.push_back(folder);
    }
    return changed;
}
