#pragma once
// The regular files of a tree by contents, and the promise every deleting
// run must keep: a file gone from the source has an identical copy.

#include <filesystem>
#include <map>
#include <string>

namespace testing_support {

// Relative path -> contents of every regular file below root; empty when
// root does not exist.
using FileContents = std::map<std::string, std::string>;
FileContents fileContents(const std::filesystem::path& root);

// Every file of `before` that is gone from source has an identical copy
// at the same relative path below destination.
// Writes a whole file (parents made as needed), replacing one that is there.
void writeFile(const std::filesystem::path& file, const std::string& contents);

void expectNothingLost(const FileContents& before, const std::filesystem::path& source,
                       const std::filesystem::path& destination);

} // namespace testing_support
