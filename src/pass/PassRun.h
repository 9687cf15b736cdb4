#pragma once
// What a pass does once it has been decided: it starts the copy run with
// the engine its settings choose, finds what was too young to copy, and
// cleans up its folder afterwards. The run's end goes to `ended`, then as
// "KLVVR_TASK_DONE" with the pass as its context to any other listener.

#include "engines/RunEnd.h"
#include "pass/ArchivePass.h"

#include <memory>

namespace PassRun {

// An incremental pass lists the settled files of its changed folders and
// notes the young ones; a full pass lets the engine walk the folder.
void start(const std::shared_ptr<ArchivePass>& pass, RunEnded ended);

// A full pass's walk selects only settled files: the young ones are found
// by a walk of their own once it has ended.
void noteYoungFiles(ArchivePass& pass);
// On a disk: the files whose copies match them by size and time but not by
// content (ReplacedOriginals), once its copies are kept aside.
void noteReplacedOriginals(ArchivePass& pass);

// Hidden files left alone for the settle time and copied, then old empty
// folders, with the pass's settings; nothing when a rule forbids it.
void cleanUp(const ArchivePass& pass);

} // namespace PassRun
