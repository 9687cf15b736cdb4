#include "engines/PerFileCensus.h"

#include "engines/FileStamp.h"
#include "engines/SynchronizationPolicy.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

PerFileCensus::PerFileCensus(std::string source, std::string destination, unsigned minutes, unsigned days)
    : source_(std::move(source)), destination_(std::move(destination)), minutes_(minutes),
      deletes_(SynchronizationPolicy::deletes(days)), copies_(source_, destination_, minutes) {}

void PerFileCensus::lookBefore() {
    const platform::Date now = std::chrono::system_clock::now();
    const fs::path root(source_);
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const auto file = FileStamp::of(it->path().string());
        if (!file || !file->isRegularFile() || !file->settled(minutes_, now)) continue;
        ++settled_;
        std::string relative = it->path().lexically_relative(root).string();
        if (deletes_) deletable_.push_back(relative);
        copies_.noteUnlessMatched(std::move(relative), *file);
    }
}

PassCounts PerFileCensus::lookAfter() const {
    PassCounts counts;
    copies_.countInto(counts);
    const std::string source = SynchronizationPolicy::asFolder(source_);
    const std::string destination = SynchronizationPolicy::asFolder(destination_);
    for (const auto& relative : deletable_)
        if (!FileStamp::of(source + relative) && FileStamp::of(destination + relative)) ++counts.deleted;
    return counts;
}
