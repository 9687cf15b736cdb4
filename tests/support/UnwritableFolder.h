#pragma once
// A folder nobody may write into for the life of the object: without write
// permission, or, for root (whom permissions do not stop), immutable.
// ok() says whether that could be arranged.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace testing_support {

class UnwritableFolder {
public:
    explicit UnwritableFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
        if (geteuid() != 0) {
            std::filesystem::permissions(folder_, std::filesystem::perms(0555),
                                         std::filesystem::perm_options::replace);
            ok_ = true;
        } else {
            immutable_ = std::system(("chattr +i '" + folder_.string() + "' 2>/dev/null").c_str()) == 0;
            ok_ = immutable_;
        }
    }
    ~UnwritableFolder() {
        if (immutable_) std::system(("chattr -i '" + folder_.string() + "'").c_str());
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;
    bool ok() const { return ok_; }

private:
    std::filesystem::path folder_;
    bool ok_ = false;
    bool immutable_ = false;
};

} // namespace testing_support
