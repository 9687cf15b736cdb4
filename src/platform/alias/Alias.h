#pragma once
// Alias records: opaque bytes that name a file or folder so it can be found
// again after it was renamed, moved on its volume, or its volume was
// mounted at another place.
//
// Resolution tries, stopping at the first success:
//   1. the stored path, if it still names the same item on the same volume;
//   2. the same path below each place where the volume is mounted now;
//   3. a bounded breadth-first search below the nearest existing folder
//      above the stored path (and above the path at each current mount
//      point), then its parent, up to the volume's root.
// "The same item" means the same inode and a matching birth time or file
// handle: an inode alone is never enough, as inodes are reused.

#include "platform/alias/AliasSearch.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

class Alias {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Codes for log lines; stable, as they end up in users' logs.
    enum class Error : int {
        None = 0x00,
        Damaged = 0x01,       // not a record this program can read
        VolumeMissing = 0x02, // the volume is not mounted anywhere
        NotFound = 0x03,      // the volume is there, the item is not
    };

    // Enough to find a folder moved anywhere in a tree of 100,000 entries,
    // in well under a second when the tree is in the cache.
    static constexpr AliasSearch::Bounds kDefaultBounds{200'000, 32};

    struct Resolution {
        bool resolved = false;
        std::string path;
        bool changed = false;  // the item was not where the record said
        Bytes changedData;     // a fresh record of the item as found, when changed
        Error error = Error::None;
        std::string reason;    // why it did not resolve
        std::size_t entriesVisited = 0;
    };

    // A record of an existing file or folder; nullopt (with the reason) for
    // a missing one.
    static std::optional<Bytes> make(const std::string& path, std::string* reason = nullptr);

    // Any bytes, damaged ones included, give a Resolution; never throws.
    static Resolution resolve(std::span<const std::uint8_t> data, AliasSearch::Bounds bounds = kDefaultBounds);

    enum class VolumeCheck { Same, Different, Unknown };
    // Whether the item at path lives on the volume the record names.
    // Unknown when the record cannot be read or path cannot be examined.
    static VolumeCheck compareVolume(std::span<const std::uint8_t> data, const std::string& path);
    // Whether the folder at path is what remains of the recorded item's
    // volume once it was unmounted: the file system that holds path now is
    // mounted above the place where the recorded item's was (Different).
    // Any file system mounted at that place, or below it, is Same. Unknown
    // when the record cannot be read or path cannot be examined.
    static VolumeCheck compareMountPlace(std::span<const std::uint8_t> data, const std::string& path);
    // Whether path names the very item the record names, on its volume:
    // not merely a folder of the same name made in its place.
    static bool namesItemAt(std::span<const std::uint8_t> data, const std::string& path);
};

} // namespace platform
