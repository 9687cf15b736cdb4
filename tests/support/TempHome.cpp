#include "support/TempHome.h"

#include "platform/preferences/UserDefaults.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testing_support {

TempHome::TempHome() {
    std::string pattern = (fs::temp_directory_path() / "tolv-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    if (const char* h = getenv("HOME")) savedHome_ = h;
    fs::create_directories(home() / ".config");
    fs::create_directories(home() / ".local" / "share");
    fs::create_directories(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("HOME", home().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home() / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home() / ".local" / "share").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    platform::UserDefaults::resetStandard();
}

TempHome::~TempHome() {
    platform::UserDefaults::resetStandard();
    if (!savedHome_.empty()) setenv("HOME", savedHome_.c_str(), 1);
    std::error_code ec;
    // Tests make folders read-only on purpose; give the owner back its rights.
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

fs::path TempHome::makeFolder(const std::string& relative) const {
    fs::path p = root_ / relative;
    fs::create_directories(p);
    return p;
}

fs::path TempHome::writeFile(const std::string& relative, const std::string& contents) const {
    fs::path p = root_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << contents;
    return p;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path testProgram(const std::string& name) {
    return fs::path(TOLV_TEST_PROGRAMS_DIR) / name;
}

} // namespace testing_support
