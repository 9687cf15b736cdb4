#include "pass/UnarchivedFiles.h"

#include "platform/runtime/Log.h"
#include "core/SettleTime.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

std::optional<UnarchivedFiles::Count> UnarchivedFiles::count(const fs::path& source, unsigned settleMinutes,
                                                             std::optional<platform::Date> archivedFrom,
                                                             platform::Date now) {
    const auto settle = std::chrono::minutes(settleMinutes);
    if (archivedFrom) *archivedFrom -= settle;
    std::error_code ec;
    fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) {
        platform::logf("the files of %s without a copy cannot be counted: %s", source.c_str(), ec.message().c_str());
        return std::nullopt;
    }
    Count count;
    for (; !ec && it != end; it.increment(ec)) {
        const auto times = SettleTime::ofFile(it->path());
        if (!times) continue; // not a regular file, or gone meanwhile
        if (settleMinutes > 0 && now - times->modified <= settle) continue; // the walk's -mmin
        // Written, or brought here (a copy keeps its time, not its change), since then.
        const platform::Date last = std::max(times->modified, times->changed);
        if (archivedFrom && last < *archivedFrom) continue;
        ++count.files;
        if (!count.since || last < *count.since) count.since = last;
    }
    if (ec) {
        platform::logf("the count of %s's files without a copy stopped: %s", source.c_str(), ec.message().c_str());
        return std::nullopt;
    }
    return count;
}
