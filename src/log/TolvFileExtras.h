#pragma once
// File helpers: moving an item to the user's trash and testing its age.

#include "platform/runtime/DateFormat.h"

#include <optional>
#include <string>

// The attribute keys itemIsEarlierThan understands.
inline const std::string NSFileCreationDate = "NSFileCreationDate";
inline const std::string NSFileModificationDate = "NSFileModificationDate";

// Moves the item into the user's trash; when the trash already holds that
// name, the local date and time " yyyyMMdd_HHmmss" is appended to it.
void moveFileToUserTrash(const std::string& path);
void moveFileToUserTrash(const std::string& path, platform::Date now);

// Whether the item's date (modification date, or with NSFileCreationDate
// its birth time, falling back to the modification date where the file
// system keeps none) lies strictly before the given date. A missing item
// is not earlier.
bool itemIsEarlierThan(const std::string& path, platform::Date date, const std::optional<std::string>& attributeKey);
