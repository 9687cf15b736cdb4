#pragma once
// Which of the files a pass meant to copy it did copy, and which still have
// no copy that matches them (FileStamp): each file and its copy are looked
// at before the copying and again after it. A copy counts as made when
// afterwards it matches its file and before it did not, or when it is
// another file than before (rsync wrote it anew). A file without a matching
// copy afterwards counts as failed while it still exists and has settled;
// one that vanished counts as neither, and so does one written again while
// the pass ran, which has not settled. A file the pass deleted once its
// copy compared equal is compared as it was before.
//
// Names are relative to both folders, with or without a leading "./". Not
// thread-safe: one pass notes and counts from one thread at a time.

#include "engines/FileStamp.h"
#include "engines/PassCounts.h"

#include <optional>
#include <string>
#include <vector>

class CopyOutcomes {
public:
    // `minutes` as the pass's walk selects files (0: every file is settled).
    CopyOutcomes(std::string source, std::string destination, unsigned minutes);

    // A file the pass hands to rsync, looked at now with its copy; a name
    // that is no regular file in the source is left out.
    void note(const std::string& name);
    // A file of the source already looked at, noted only when its copy does
    // not match it yet.
    void noteUnlessMatched(std::string name, const FileStamp& file);
    // After the copying: adds what became of the noted files, and gives the
    // names of the copies the run made (without "./") when asked.
    void countInto(PassCounts& counts, std::vector<std::string>* made = nullptr) const;

private:
    struct Noted {
        std::string relative;
        FileStamp file;
        std::optional<FileStamp> copy;
    };
    bool madeByTheRun(const Noted& noted, const FileStamp& copy) const;

    const std::string source_;      // with a trailing separator
    const std::string destination_; // with a trailing separator
    const unsigned minutes_;
    const int windowSeconds_; // 1 on a disk that keeps coarser times, as rsync is told
    std::vector<Noted> noted_;
};
