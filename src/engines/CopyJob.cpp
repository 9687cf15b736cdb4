#include "engines/CopyJob.h"

#include "core/DestinationMarker.h"
#include "core/PathString.h"
#include "engines/BatchedSynchronization.h"
#include "engines/KLVR_Task.h"
#include "engines/RemoteSynchronization.h"
#include "engines/TaskDone.h"

std::optional<CopyJob> CopyJob::onDisk(Engine engine, const std::string& source, const std::string& archiveFolder,
                                       std::string* why) {
    CopyJob job;
    job.engine = engine;
    job.source = PathString::resolvingSymlinks(source);
    const std::string archive = PathString::resolvingSymlinks(archiveFolder);
    if (auto refusal = KLVR_Task::synchronizationRefusal(job.source, archive)) {
        if (why) *why = *refusal;
        return std::nullopt;
    }
    // After the checks, which resolve "..": a disk that goes during the run
    // then takes the tools' way into the archive with it.
    job.target = DestinationMarker::reachedThroughMarker(archive);
    return job;
}

std::optional<CopyJob> CopyJob::onServer(Engine engine, const std::string& source, const RemoteDestination& archive,
                                         std::string* why) {
    CopyJob job;
    job.engine = engine;
    job.source = PathString::resolvingSymlinks(source);
    // bfs puts each file's path in place of "{}" inside every -exec argument.
    if (!job.source.starts_with('/') || job.source.find("{}") != std::string::npos) {
        if (why) *why = "ERROR: the source " + source + " must be an absolute path without \"{}\"";
        return std::nullopt;
    }
    // Should the server's disk be gone, the way through its marker leads nowhere.
    job.target = archive.target(DestinationMarker::reachedThroughMarkerPath(archive.path));
    job.server = archive;
    return job;
}

void CopyJob::start(CopyJob job) {
    if (job.toServer()) return RemoteSynchronization::start(std::move(job));
    if (job.engine == Engine::PerFile) return KLVR_Task::synchronize(std::move(job));
    BatchedSynchronization::start(std::move(job));
}

void CopyJob::finish(const RunEnd& end) const {
    if (told->exchange(true)) return;
    TaskDone::post(context, ended, end);
}

void CopyJob::finish(const platform::Task::Termination& end, const std::optional<PassCounts>& counts) const {
    finish(TaskDone::of(end, counts));
}
