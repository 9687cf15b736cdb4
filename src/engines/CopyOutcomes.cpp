#include "engines/CopyOutcomes.h"

#include "engines/SynchronizationPolicy.h"

#include <algorithm>
#include <chrono>

namespace {

std::string relativePart(std::string name) { return name.starts_with("./") ? name.substr(2) : name; }

void countFailed(PassCounts& counts, const FileStamp& file, const std::string& relative) {
    ++counts.failed;
    if (!counts.oldestFailed || file.modified() < *counts.oldestFailed) {
        counts.oldestFailed = file.modified();
        counts.oldestFailedName = relative;
    }
    counts.largestFailedBytes = std::max(counts.largestFailedBytes, file.size());
}

} // namespace

CopyOutcomes::CopyOutcomes(std::string source, std::string destination, unsigned minutes)
    : source_(SynchronizationPolicy::asFolder(source)), destination_(SynchronizationPolicy::asFolder(destination)),
      minutes_(minutes),
      windowSeconds_(SynchronizationPolicy::windowSeconds(destination_)) {}

void CopyOutcomes::note(const std::string& name) {
    std::string relative = relativePart(name);
    const auto file = FileStamp::of(source_ + relative);
    if (!file || !file->isRegularFile()) return;
    auto copy = FileStamp::of(destination_ + relative);
    noted_.push_back({std::move(relative), *file, std::move(copy)});
}

void CopyOutcomes::noteUnlessMatched(std::string name, const FileStamp& file) {
    std::string relative = relativePart(std::move(name));
    auto copy = FileStamp::of(destination_ + relative);
    if (copy && copy->matches(file, windowSeconds_)) return;
    noted_.push_back({std::move(relative), file, std::move(copy)});
}

void CopyOutcomes::countInto(PassCounts& counts, std::vector<std::string>* made) const {
    const platform::Date now = std::chrono::system_clock::now();
    for (const Noted& noted : noted_) {
        auto file = FileStamp::of(source_ + noted.relative);
        if (file && !file->isRegularFile()) file.reset();
        const auto copy = FileStamp::of(destination_ + noted.relative);
        if (copy && copy->matches(file.value_or(noted.file), windowSeconds_)) {
            if (!madeByTheRun(noted, *copy)) continue;
            ++counts.copied;
            if (made) made->push_back(noted.relative.starts_with("./") ? noted.relative.substr(2) : noted.relative);
        } else if (file && file->settled(minutes_, now)) {
            countFailed(counts, *file, noted.relative);
        }
    }
}

bool CopyOutcomes::madeByTheRun(const Noted& noted, const FileStamp& copy) const {
    return !noted.copy || !noted.copy->matches(noted.file, windowSeconds_) || !noted.copy->isSameFileAs(copy);
}
