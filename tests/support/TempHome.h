#pragma once
// A fresh temporary folder that plays the user's home for one test: HOME and
// the XDG folders point into it, the standard preference store is reset,
// and the whole folder is removed afterwards.

#include <filesystem>
#include <string>

namespace testing_support {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    // A new folder below the temporary root (parents made as needed).
    std::filesystem::path makeFolder(const std::string& relative) const;
    // Writes a file (parents made as needed) and returns its path.
    std::filesystem::path writeFile(const std::string& relative, const std::string& contents) const;

private:
    std::filesystem::path root_;
    std::string savedHome_;
};

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& file);
// Path of a helper program built from tests/support/programs.
std::filesystem::path testProgram(const std::string& name);

} // namespace testing_support
