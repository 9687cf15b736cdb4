#include "engines/FindRequest.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace {

bool isFileTypeLetter(const std::string& letter) {
    return letter.size() == 1 && std::string_view("fdbclps").find(letter[0]) != std::string_view::npos;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// bfs reads -newerBt only as an absolute time, and in whole seconds. Rounding
// up keeps "not newer than now" true for every item that exists when the
// run starts, also one born earlier in the same second.
// An age reaching back before 1970 is held at 1970, which no real birth time
// precedes, rather than let the arithmetic overflow.
std::string birthTimeLimit(platform::Date now, unsigned days) {
    using namespace std::chrono;
    seconds end = ceil<seconds>(now.time_since_epoch());
    seconds age = seconds(86400LL * days);
    seconds limit = age < end ? end - age : seconds(0);
    return platform::DateFormat::iso8601(platform::Date(limit));
}

void appendPatterns(std::vector<std::string>& args, const std::vector<std::string>& patterns) {
    if (patterns.size() == 1) {
        args.insert(args.end(), {"-iname", patterns.front()});
        return;
    }
    if (patterns.empty()) return;
    args.insert(args.end(), {"-and", "("});
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (i > 0) args.push_back("-or");
        args.insert(args.end(), {"-iname", patterns[i]});
    }
    args.push_back(")");
}

void appendAction(std::vector<std::string>& args, const FindRequest::Command& command) {
    if (auto program = std::get_if<std::string>(&command)) {
        args.insert(args.end(), {"-exec", *program, "{}", ";"});
    } else if (auto primaries = std::get_if<std::vector<std::string>>(&command)) {
        args.insert(args.end(), primaries->begin(), primaries->end());
    }
}

} // namespace

std::vector<std::string> FindRequest::arguments(platform::Date now) const {
    std::vector<std::string> args{"."};
    if (fileType && isFileTypeLetter(*fileType)) args.insert(args.end(), {"-type", *fileType});
    if (minModTime) args.insert(args.end(), {"-mmin", "+" + std::to_string(*minModTime)});
    if (daysOld) args.insert(args.end(), {"-and", "-not", "-newerBt", birthTimeLimit(now, *daysOld)});
    appendPatterns(args, patterns);
    if (maxDepth) args.insert(args.end(), {"-maxdepth", std::to_string(*maxDepth)});
    args.insert(args.end(), {"-mindepth", "1"});
    appendAction(args, command);
    return args;
}

bool FindRequest::isRemoval() const {
    auto program = std::get_if<std::string>(&command);
    return program && (equalsIgnoringCase(*program, "rm") || equalsIgnoringCase(*program, "rmdir"));
}

std::string FindRequest::describeCommand() const {
    if (auto program = std::get_if<std::string>(&command)) return *program;
    auto primaries = std::get_if<std::vector<std::string>>(&command);
    if (!primaries) return "(null)";
    std::string text = "(";
    for (size_t i = 0; i < primaries->size(); ++i) text += (i ? ", " : "") + (*primaries)[i];
    return text + ")";
}
