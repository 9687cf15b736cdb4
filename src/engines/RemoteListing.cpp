#include "engines/RemoteListing.h"

namespace {

constexpr std::size_t kChangeLength = 11;

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// "YXcstpoguax": the update kind, the file kind, then nine attribute marks.
bool isChange(std::string_view text) {
    if (text.size() != kChangeLength) return false;
    if (std::string_view("<>ch.*").find(text[0]) == std::string_view::npos) return false;
    if (std::string_view("fdLDS").find(text[1]) == std::string_view::npos) return false;
    for (char c : text.substr(2))
        if (!(c == '.' || c == '+' || c == ' ' || c == '?' || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

} // namespace

std::string RemoteListing::decoded(std::string_view printed) {
    std::string name;
    name.reserve(printed.size());
    for (std::size_t i = 0; i < printed.size(); ++i) {
        if (printed[i] == '\\' && i + 4 < printed.size() && printed[i + 1] == '#' && isOctal(printed[i + 2]) &&
            isOctal(printed[i + 3]) && isOctal(printed[i + 4])) {
            name.push_back(static_cast<char>((printed[i + 2] - '0') * 64 + (printed[i + 3] - '0') * 8 +
                                             (printed[i + 4] - '0')));
            i += 4;
        } else {
            name.push_back(printed[i]);
        }
    }
    return name;
}

std::vector<RemoteListing::Entry> RemoteListing::parse(std::string_view output) {
    std::vector<Entry> entries;
    while (!output.empty()) {
        const auto end = output.find('\n');
        const std::string_view line = output.substr(0, end);
        output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
        if (line.size() < kChangeLength + 2 || line[kChangeLength] != ' ') continue;
        if (!isChange(line.substr(0, kChangeLength))) continue;
        entries.push_back({std::string(line.substr(0, kChangeLength)), decoded(line.substr(kChangeLength + 1))});
    }
    return entries;
}
