#pragma once
// Reads every copy of an archive folder and compares it with the folder's
// record (ArchiveRecord): a copy whose bytes are not what was recorded is
// damaged, a recorded copy that is gone is missing, and a copy the record
// does not know is counted apart. A damaged copy whose original is still in
// the source with the recorded content is made again from it, the damaged
// one kept aside as a replaced copy is; one without is named, and left as
// it is. Nothing else is written, moved or deleted.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ArchiveCheck {
    struct Folder {
        int slot = 0;
        std::string archive; // the archive folder read
        std::int64_t checked = 0;
        std::int64_t withoutRecord = 0;
        std::vector<std::string> damaged; // paths below the archive folder, not mended
        std::vector<std::string> missing;
        std::vector<std::string> mended;  // damaged, made again from their original
        std::string keptIn;               // where their damaged versions went
        std::string error; // why the folder could not be checked, "" when it was

        bool sound() const { return error.empty() && damaged.empty() && missing.empty(); }
        // "Main Images: 20,000 copies checked: 3 damaged, 1 missing, 0 without a record",
        // then a line naming each damaged, missing or mended copy.
        std::string text() const;
    };

    // The archive folder of each chosen source (or of `slot` alone) in the
    // destination as it is now; a destination that is not the archive is
    // the error of every folder.
    static std::vector<Folder> run(std::optional<int> slot);
    static Folder check(int slot, const std::string& archiveFolder);
    // Makes the damaged copies of a checked folder again from their
    // originals in source, where those hold the recorded content.
    static void mend(Folder& folder, const std::string& source);
};
