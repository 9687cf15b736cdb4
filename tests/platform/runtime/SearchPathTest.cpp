// Finding a program through PATH before it is started by its absolute path.
#include "platform/runtime/SearchPath.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::SearchPath;
using testing_support::TempHome;

namespace {

class ScopedPath {
public:
    explicit ScopedPath(const std::string& value) {
        if (const char* old = std::getenv("PATH")) saved_ = old;
        setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath() {
        if (saved_) setenv("PATH", saved_->c_str(), 1);
        else unsetenv("PATH");
    }

private:
    std::optional<std::string> saved_;
};

fs::path executable(const TempHome& home, const std::string& relative) {
    fs::path file = home.writeFile(relative, "#!/bin/sh\n");
    fs::permissions(file, fs::perms(0755), fs::perm_options::replace);
    return file;
}

} // namespace

TEST(SearchPathTest, TakesTheFirstExecutableFileInAbsoluteFolders) {
    TempHome home;
    home.writeFile("plain/tool", "not executable");
    home.makeFolder("folder/tool");
    executable(home, "relative/tool");
    const fs::path first = executable(home, "first/tool");
    executable(home, "second/tool");
    // A relative entry would name a different folder in every child's working directory.
    const fs::path savedDirectory = fs::current_path();
    fs::current_path(home.path());
    ScopedPath path("relative::" + (home.path() / "plain").string() + ":" + (home.path() / "folder").string() + ":" +
                    (home.path() / "first").string() + "/:" + (home.path() / "second").string());

    EXPECT_EQ(SearchPath::find("tool"), first.string());
    EXPECT_EQ(SearchPath::find("missing"), std::nullopt);
    EXPECT_EQ(SearchPath::find(""), std::nullopt);
    EXPECT_EQ(SearchPath::find(first.string()), first.string());
    EXPECT_EQ(SearchPath::find((home.path() / "plain/tool").string()), std::nullopt);
    fs::current_path(savedDirectory);
}
