#include "support/FileContents.h"

#include <fstream>

#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace testing_support {

FileContents fileContents(const fs::path& root) {
    FileContents files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = readFile(entry.path());
    return files;
}

void expectNothingLost(const FileContents& before, const fs::path& source, const fs::path& destination) {
    for (const auto& [relative, data] : before) {
        if (fs::exists(source / relative)) continue;
        ASSERT_TRUE(fs::exists(destination / relative)) << relative << " was deleted without a copy";
        EXPECT_TRUE(readFile(destination / relative) == data) << relative << " copy differs";
    }
}

void writeFile(const std::filesystem::path& file, const std::string& contents) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
}

} // namespace testing_support
