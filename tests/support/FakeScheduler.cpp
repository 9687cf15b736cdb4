#include "support/FakeScheduler.h"

#include "support/TempHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

void writeScript(const fs::path& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body;
    fs::permissions(file, fs::perms(0755), fs::perm_options::replace);
}

} // namespace

FakeScheduler::FakeScheduler(const fs::path& folder, bool userManager, bool crontab)
    : folder_(folder / "fake-scheduler") {
    fs::create_directories(folder_);
    const std::string log = "'" + (folder_ / "calls.log").string() + "'";
    const std::string table = "'" + crontabFile().string() + "'";
    writeScript(folder_ / "systemctl", "echo \"systemctl $*\" >> " + log +
                                           "\n"
                                           "if [ \"$1 $2\" = \"--user show-environment\" ]; then exit " +
                                           (userManager ? "0" : "1") + "; fi\nexit 0\n");
    if (crontab)
        writeScript(folder_ / "crontab", "echo \"crontab $*\" >> " + log +
                                         "\n"
                                         "case \"$1\" in\n"
                                         "  -l) [ -f " + table + " ] || { echo 'no crontab for user' >&2; exit 1; }\n"
                                         "      cat " + table + " ;;\n"
                                         "  -) cat > " + table + " ;;\n"
                                         "  -r) rm -f " + table + " ;;\n"
                                         "  *) cat \"$1\" > " + table + " ;;\n"
                                         "esac\n");
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    setenv("PATH", (folder_.string() + ":" + savedPath_).c_str(), 1);
}

FakeScheduler::~FakeScheduler() { setenv("PATH", savedPath_.c_str(), 1); }

std::vector<std::string> FakeScheduler::calls() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(folder_ / "calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int FakeScheduler::count(const std::string& callPrefix) const {
    int n = 0;
    for (const std::string& call : calls()) n += call.rfind(callPrefix, 0) == 0 ? 1 : 0;
    return n;
}

std::string FakeScheduler::crontab() const { return readFile(crontabFile()); }

void FakeScheduler::setCrontab(const std::string& table) const { std::ofstream(crontabFile()) << table; }

} // namespace testing_support
