#pragma once
// A copy job onto a disk folder exactly as given, without the checks a
// pass's job goes through: for the engines' own tests, which give them
// folders and tools of their choosing.

#include "engines/CopyJob.h"

#include <string>
#include <vector>

namespace testing_support {

// The fast engine's job.
inline CopyJob diskJob(const std::string& source, const std::string& target, unsigned minutes, unsigned days,
                       platform::Object context) {
    CopyJob job;
    job.engine = CopyJob::Engine::Fast;
    job.source = source;
    job.target = target;
    job.minutes = minutes;
    job.days = days;
    job.context = std::move(context);
    return job;
}

// The listed engine's job.
inline CopyJob listedJob(const std::string& source, const std::string& target, std::vector<std::string> names,
                         platform::Object context) {
    CopyJob job = diskJob(source, target, 0, 0, std::move(context));
    job.engine = CopyJob::Engine::Listed;
    job.listed = std::move(names);
    return job;
}

} // namespace testing_support
