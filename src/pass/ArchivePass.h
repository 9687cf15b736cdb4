#pragma once
// One archive pass as a value: the folders and settings it was started with.
// A pass reads them once, when it starts; its completion, its clean-up and
// its follow-ups use these, so a folder or setting changed meanwhile affects
// the next pass only.

#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "engines/PassProgress.h"

#include <chrono>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ArchivePass {
    std::int16_t index = 0;
    std::string source;            // the folder being archived
    std::string archiveFolder;     // destination folder + the source's own name
    // The server the archive folder is on; none for a disk. Told once,
    // when the pass is captured: everything after asks this.
    std::optional<RemoteDestination> server;
    long settleMinutes = 0;        // a file is copied once unmodified this long
    bool deleting = false;         // deletion of old source files is on
    long deleteAfterDays = 0;      // the stored days (0: never)
    bool fast = false;             // one rsync run instead of one per file
    std::uintmax_t floorBytes = 0; // the least free space the destination must keep

    // An incremental pass (fast only) copies the settled files that events
    // named, and those directly in the folders they named, and neither
    // deletes nor cleans up: those follow age, and a full pass sees to them.
    bool incremental = false;
    std::vector<std::string> changedFolders;
    std::vector<std::string> changedFiles;
    // What it left for later: folders and files still too young, when the
    // first of those settles, how many there are and the oldest one's time
    // (a full pass learns these once its copy run has ended).
    std::vector<std::string> youngFolders;
    std::vector<std::string> youngFiles;
    std::optional<std::chrono::system_clock::time_point> settleMoment;
    long youngCount = 0;
    std::optional<std::chrono::system_clock::time_point> oldestYoung;
    long futureDated = 0; // files its camera dated ahead of this machine's clock
    // Settled files that its walk does not select, since they are judged by
    // when this machine changed them (a camera's date ahead): absolute paths
    // for a listed copy after it (a full pass learns them after its run).
    std::vector<std::string> settledByChange;
    // Files its copies matched by size and time but not by content, whose
    // copies it kept aside: absolute paths for the same listed copy.
    std::vector<std::string> replacedOriginals;

    // For the pass's result: when it began, and why it could not copy
    // ("" while nothing stopped it).
    std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
    std::string error;
    // How far its copy run has got, for whoever shows it.
    std::shared_ptr<PassProgress> progress = std::make_shared<PassProgress>();

    // The pass with the settings of one snapshot.
    static ArchivePass capture(std::int16_t index, std::string source, std::string archiveFolder,
                               const Settings& settings);

    bool toServer() const { return server.has_value(); }

    // What the copy run is given: the minutes, never negative, and the
    // stored days when deletion is on, else days no real file reaches.
    unsigned copyMinutes() const;
    unsigned copyDays() const;
    // The clean-up's hidden files must have rested at least a minute: a
    // photo is often written under a hidden name and renamed when done.
    unsigned cleanUpMinutes() const;
};
