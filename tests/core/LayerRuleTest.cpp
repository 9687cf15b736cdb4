// The folders of src/ are layers: a file includes headers of its own folder
// and of the folders below it, never of a folder above it or beside it.
// Reads the real source tree, so a new include that breaks the rule fails here.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Folder → layer; a folder may include from lower layers only. Folders on
// one layer do not include each other. Platform subfolders are layered the
// same way inside the platform.
const std::map<std::string, int>& layers() {
    static const std::map<std::string, int> table{
        {"platform/runtime", 0},
        {"platform/preferences", 1},
        {"platform/alias", 1},
        {"platform/fileevents", 1},
        {"platform/remote", 1},
        {"platform/desktop", 2},
        {"platform/qt", 3},
        {"platform/scheduler", 3},
        {"core", 10},
        {"engines", 11},
        {"dialogs", 11},
        {"pass", 12},
        {"log", 13},
        {"watch", 13},
        {"folders", 14},
        {"station", 14},
        {"app/schedule", 15},
        {"app/widgets", 15},
        {"app/lifecycle", 16},
        {"app/status", 17},
        {"app/window", 17},
        {"app/instance", 18},
        {"app", 19},
        {"relaunch", 20},
        {"launchagent", 20},
    };
    return table;
}

// The folder of a path below src/, as the table names it: "watch" for
// "watch/WatcherNSObject.h", "platform/runtime" for "platform/runtime/Log.h".
std::string folderOf(const std::string& relative) {
    auto slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

struct Include {
    std::string file;   // below src/
    std::string target; // below src/
};

std::vector<Include> projectIncludes(const fs::path& src) {
    static const std::regex quoted(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<Include> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, quoted) && fs::exists(src / m[1].str()))
                found.push_back({fs::relative(entry.path(), src).generic_string(), m[1].str()});
    }
    return found;
}

// Why an include breaks the rule, or "" when it keeps it.
std::string violation(const Include& inc) {
    const std::string from = folderOf(inc.file), to = folderOf(inc.target);
    if (from == to) return "";
    auto f = layers().find(from), t = layers().find(to);
    if (f == layers().end()) return "folder " + from + " has no layer";
    if (t == layers().end()) return "folder " + to + " has no layer";
    if (t->second < f->second) return "";
    return t->second == f->second ? "includes a folder beside its own" : "includes a folder above its own";
}

} // namespace

TEST(LayerRuleTest, NoFileIncludesAFolderAboveOrBesideItsOwn) {
    const fs::path src = fs::path(TOLV_SOURCE_DIR) / "src";
    auto includes = projectIncludes(src);
    ASSERT_GT(includes.size(), 100u) << "the source tree was not found at " << src;
    for (const auto& inc : includes) {
        auto why = violation(inc);
        EXPECT_TRUE(why.empty()) << inc.file << " includes " << inc.target << ": " << why;
    }
}

TEST(LayerRuleTest, TheRuleCatchesUpwardSidewaysAndUnknownIncludes) {
    struct Case {
        Include include;
        bool breaks;
    } cases[] = {
        {{"watch/WatcherNSObject.cpp", "engines/KLVR_Task.h"}, false},
        {{"engines/KLVR_Task.cpp", "watch/WatcherNSObject.h"}, true},
        {{"engines/KLVR_Task.cpp", "dialogs/ModalUI.h"}, true},
        {{"core/CommonHeader.cpp", "app/lifecycle/AppDelegate.h"}, true},
        {{"platform/runtime/Log.cpp", "platform/preferences/Value.h"}, true},
        {{"platform/preferences/Value.cpp", "platform/runtime/Log.h"}, false},
        {{"newfolder/X.cpp", "core/CommonHeader.h"}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!violation(c.include).empty(), c.breaks) << c.include.file << " -> " << c.include.target;
}
