#include "station/ArchiveReading.h"

#include "core/ArchiveDestination.h"
#include "core/ArchiveHealth.h"
#include "core/ArchiveRecord.h"
#include "core/CommonHeader.h"
#include "pass/KeptVersions.h"
#include "core/PreferencesHealth.h"
#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "engines/CopyHasher.h"
#include "pass/FolderSlotRules.h"
#include "pass/RollingCheck.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Worker.h"
#include "station/Station.h"
#include "watch/SlotWatch.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

struct ArchiveReading::Shared {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool running = false;
};

namespace {

// Soon after start-up, once the first passes have begun; then often enough
// that a share falls due within minutes of its day.
constexpr auto kFirstLook = 5s;
constexpr auto kLookEvery = 10min;
constexpr auto kRetry = 30s;

struct Folder {
    int slot;
    std::string source;
    std::shared_ptr<SlotWatch> watch; // shows a whole reading's progress
};

using Watches = std::vector<std::shared_ptr<SlotWatch>>;

bool anyBusy(const Watches& watches) {
    for (const auto& slot : watches)
        if (slot && slot->busy()) return true;
    return false;
}

void postEnded(int slot) {
    platform::NotificationCenter::defaultCenter().post(
        kArchiveCheckDidEnd, nullptr, platform::UserInfo{{kUserInfoIndex, static_cast<std::int32_t>(slot)}});
}

// Stores what was found, for the row, the status and the reporter to read.
void tell(int slot, const ArchiveHealth& health) {
    health.store(slot);
    Settings::save();
    postEnded(slot);
}

void readFolder(const Folder& folder, const std::string& destination, bool everything, long days,
                const std::function<bool()>& stop) {
    const std::string archive = FolderSlotRules::archiveFolder(destination, folder.source);
    const ArchiveHealth stored = ArchiveHealth::stored(folder.slot);
    // Another destination's findings say nothing of this one.
    const bool another = stored.archive != archive;
    ArchiveHealth before = another ? ArchiveHealth{} : stored;
    before.archive = archive;
    ArchiveHealth health = before;
    const auto text = CopyHasher::contents(ArchiveRecord::fileFor(archive).string());
    // No record (a folder not archived yet), or one that cannot be read: what
    // was found stands, unless it was found in another archive (the
    // destination chosen anew).
    if (!text) {
        if (another) tell(folder.slot, before);
        return;
    }
    const auto record = ArchiveRecord::fromText(archive, *text);
    const auto now = std::chrono::system_clock::now();
    std::int64_t read = 0;
    if (everything) {
        const auto total = static_cast<std::int64_t>(record.hashes().size());
        const auto show = [&](std::int64_t done) {
            if (folder.watch) folder.watch->setArchiveCheck(PassProgress::Shown{done, total, std::nullopt});
        };
        show(0);
        read = RollingCheck::readAll(health, archive, record, folder.source, stop, now, show);
        if (folder.watch) folder.watch->setArchiveCheck(std::nullopt);
    } else {
        RollingCheck::accrue(health, static_cast<std::int64_t>(record.hashes().size()), days, now);
        if (health.owed > 0) read = RollingCheck::read(health, archive, record, folder.source, stop, now);
    }
    if (health != before)
        tell(folder.slot, health);
    else if (everything)
        postEnded(folder.slot); // the row's count goes
    if (read > 0)
        platform::logf("%s: %lld copies read again, %zu damaged, %zu missing, %lld still owed", archive.c_str(),
                       static_cast<long long>(read), health.damaged.size(), health.missing.size(),
                       static_cast<long long>(health.owed));
}

// Kept versions only grow: what they take is shown with the destination.
void countKept(const std::string& destination) {
    const auto files = CopyHasher::filesBelow(destination + "/" + kKeptFolderName);
    if (!files) return;
    KeptVersions kept{files->count, files->bytes, destination, std::chrono::system_clock::now()};
    const auto before = KeptVersions::stored();
    if (before && before->count == kept.count && before->bytes == kept.bytes && before->destination == destination)
        return;
    kept.store();
    Settings::save();
    postEnded(CommonHeader::kDestinationSlot);
}

void readAll(const std::vector<Folder>& folders, const std::string& destination, bool everything, long days,
             const std::function<bool()>& stop) {
    for (const Folder& folder : folders) {
        if (stop()) return;
        readFolder(folder, destination, everything, days, stop);
    }
    countKept(destination);
}

} // namespace

ArchiveReading::ArchiveReading(const Station& station) : station_(station), shared_(std::make_shared<Shared>()) {
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &ArchiveReading::readDueShares);
    retry_->start(kFirstLook);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ArchiveReading::readDueShares);
    timer->start(kLookEvery);
}

ArchiveReading::~ArchiveReading() {
    shared_->stop = true;
    std::unique_lock lock(shared_->mutex);
    shared_->ended.wait_for(lock, 1s, [&] { return !shared_->running; });
}

bool ArchiveReading::reading() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->running;
}

// With the rolling check off, the kept versions are still counted. Kept
// from it (a pass runs, the destination not looked at yet), it looks again
// soon rather than at the next round.
void ArchiveReading::readDueShares() {
    if (!start(false).empty()) retry_->start(kRetry);
}

std::string ArchiveReading::readEverything() { return start(true); }

std::string ArchiveReading::start(bool everything) {
    // A damaged preference file is not written over with findings.
    if (!PreferencesHealth::problem().empty()) return PreferencesHealth::problem();
    const auto destination = station_.destinationState();
    if (!destination) return "the destination has not been looked at yet";
    if (!destination->ready()) return destination->problem.empty() ? "no destination" : destination->problem;
    if (RemoteDestination::looksRemote(destination->path)) return "an archive on a server is not checked from here yet";
    Watches watches;
    std::vector<Folder> folders;
    for (int index = 1; index < CommonHeader::kSlotCount; ++index) {
        watches.push_back(station_.slot(index));
        const auto source = Settings::folder(index).path;
        if (source && !source->empty()) folders.push_back({index, *source, watches.back()});
    }
    if (folders.empty()) return "no source folder is chosen";
    if (anyBusy(watches)) return "a pass runs: try again once it has ended";
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->running) return "the archive is being read already";
        shared_->running = true;
    }
    const long days = Settings::read().verifyArchiveDays;
    // As the monitor last found it: a look of the reading's own could hang
    // on a destination that stopped answering, where the monitor's is bounded.
    const std::string path = destination->path;
    auto shared = shared_;
    auto ended = [shared] {
        std::lock_guard lock(shared->mutex);
        shared->running = false;
        shared->ended.notify_all();
    };
    const auto stop = [shared, watches] { return shared->stop.load() || anyBusy(watches); };
    const bool started = platform::startWorker(
        [=] {
            readAll(folders, path, everything, days, stop);
            ended();
        },
        [ended](const std::string& reason) {
            platform::logf("ERROR: the archive could not be read again: %s", reason.c_str());
            ended();
        });
    return started ? "" : "no thread to read it on";
}
