#include "log/TolvFileExtras.h"

#include "platform/desktop/FileAttributes.h"
#include "platform/runtime/Log.h"
#include "platform/desktop/Trash.h"
#include "core/PathString.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;
using platform::logf;

namespace {

// The dates other systems report for an unset creation date.
const platform::Date kZeroDate1904 = platform::Date(std::chrono::seconds(-2082844800LL));
const platform::Date kZeroDate1970 = platform::Date();

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

platform::Date creationOrModificationDate(const platform::FileAttributes& attributes) {
    if (attributes.creationDate == kZeroDate1904) {
        platform::log("Inside itemIsEarlierThan => fileCreationDate isEqualToDate zeroDate: [1904-01-01 00:00:00 +0000]");
        return attributes.modificationDate;
    }
    if (attributes.creationDate == kZeroDate1970) {
        platform::log("Inside itemIsEarlierThan => fileCreationDate isEqualToDate zeroDate2: [1970-01-01 00:00:00 +0000]");
        return attributes.modificationDate;
    }
    return attributes.creationDate;
}

} // namespace

void moveFileToUserTrash(const std::string& path) {
    moveFileToUserTrash(path, std::chrono::system_clock::now());
}

void moveFileToUserTrash(const std::string& path, platform::Date now) {
    std::string item = PathString::standardizing(path);
    if (!platform::FileAttributes::isDeletable(item)) {
        logf("moveFileToUserTrash => item [%s] is NOT deletable...", path.c_str());
        return;
    }
    auto trash = platform::Trash::filesFolder();
    if (!trash) return;
    std::string name = fs::path(item).filename().string();
    if (platform::Trash::contains(name)) name += platform::DateFormat::format(now, " yyyyMMdd_HHmmss");
    std::string error;
    if (!platform::Trash::moveItem(item, name, &error)) {
        logf("moveFileToUserTrash -> Move operation did not succeed! for [%s]", (*trash / name).c_str());
        logf("moveFileToUserTrash -> %s", error.c_str());
    }
}

bool itemIsEarlierThan(const std::string& path, platform::Date date, const std::optional<std::string>& attributeKey) {
    auto attributes = platform::FileAttributes::ofItem(path);
    if (!attributes) {
        platform::log("itemIsEarlierThan -> file may NOT exist anymore?????");
        return false;
    }
    bool byCreation = attributeKey && equalsIgnoringCase(*attributeKey, NSFileCreationDate);
    platform::Date itemDate = byCreation ? creationOrModificationDate(*attributes) : attributes->modificationDate;
    return itemDate < date;
}
