#pragma once
// Reads copies on the destination through children (sha256sum, cat): a
// destination that stops answering then holds up a child, which the
// application can leave behind when it quits, and never a thread of its
// own, which the kernel may keep from ending, and the application with it.
// The children read at idle disk priority where ionice is installed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CopyHasher {
    struct Read {
        enum class Kind { Hashed, Missing, Unreadable };
        Kind kind = Kind::Unreadable;
        std::string hash; // with Kind::Hashed
    };
    // The copies at paths below folder, in the same order.
    static std::vector<Read> hash(const std::string& folder, const std::vector<std::string>& paths);
    // A file's contents; nullopt when it is not there or cannot be read.
    static std::optional<std::string> contents(const std::string& file);
    // The regular files below folder: how many, and their bytes; {0, 0}
    // when it is not there, nullopt when it cannot be walked.
    struct Files {
        std::int64_t count = 0;
        std::int64_t bytes = 0;
    };
    static std::optional<Files> filesBelow(const std::string& folder);
};
